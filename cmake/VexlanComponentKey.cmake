# The RSA public key built into the client to verify component signatures, and the private
# half that the signing tests and the demo sign with.
#
#   -DVEXLAN_COMPONENT_KEY=/path/public.pem           public key built in (PEM SubjectPublicKeyInfo,
#                                                     2048-bit RSA)
#   -DVEXLAN_COMPONENT_SIGNING_KEY=/path/private.pem  its private half (tests and demo only;
#                                                     never built into anything)
#
# Without either, a development key pair is made once with the openssl command in
# <build>/keys (component-signing-key.pem: private, PKCS#8, unencrypted;
# component-signing-public.pem) and kept across reconfigurations; the build then trusts that
# development key and says so. With only the private key, the public half is derived from it.
#
# Provides:
#   vexlan_component_key       static library: const char* builtinComponentKey()
#                              (header "vexlan_component_key.h", generated in the build tree)
#   vexlan_signing_key         interface target for tests and the demo: compile definitions
#                              VEXLAN_COMPONENT_KEY_PATH and VEXLAN_SIGNING_KEY_PATH (the
#                              latter empty when there is no usable private key)
#   VEXLAN_COMPONENT_KEY_PATH  the public key file that is built in
#   VEXLAN_SIGNING_KEY_PATH    its private half, or empty: signing tests and demo disabled

set(VEXLAN_COMPONENT_KEY "" CACHE FILEPATH
    "PEM public key (SubjectPublicKeyInfo, 2048-bit RSA) that the client verifies components with")
set(VEXLAN_COMPONENT_SIGNING_KEY "" CACHE FILEPATH
    "Private half of the component key, for the signing tests and the demo (optional)")

find_program(VEXLAN_OPENSSL_EXECUTABLE openssl)
set(_vk_dir ${CMAKE_BINARY_DIR}/keys)

function(_vexlan_key_openssl)
    if(NOT VEXLAN_OPENSSL_EXECUTABLE)
        message(FATAL_ERROR "The openssl command is needed to make the component keys")
    endif()
    execute_process(COMMAND ${VEXLAN_OPENSSL_EXECUTABLE} ${ARGN}
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "openssl ${ARGN} failed: ${err}")
    endif()
endfunction()

# The public key in its normal PEM form, or empty when the file holds none.
function(_vexlan_public_of out file is_private)
    set(${out} "" PARENT_SCOPE)
    if(NOT VEXLAN_OPENSSL_EXECUTABLE)
        return()
    endif()
    if(is_private)
        set(args pkey -in ${file} -pubout -passin pass:)
    else()
        set(args pkey -pubin -in ${file} -pubout)
    endif()
    execute_process(COMMAND ${VEXLAN_OPENSSL_EXECUTABLE} ${args}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE pem ERROR_QUIET)
    if(rc EQUAL 0)
        set(${out} "${pem}" PARENT_SCOPE)
    endif()
endfunction()

set(_vk_public "")
set(_vk_private "")
if(VEXLAN_COMPONENT_KEY)
    get_filename_component(_vk_public "${VEXLAN_COMPONENT_KEY}" ABSOLUTE)
    if(NOT EXISTS "${_vk_public}")
        message(FATAL_ERROR "VEXLAN_COMPONENT_KEY: no file ${_vk_public}")
    endif()
    if(VEXLAN_COMPONENT_SIGNING_KEY)
        get_filename_component(_vk_private "${VEXLAN_COMPONENT_SIGNING_KEY}" ABSOLUTE)
    endif()
elseif(VEXLAN_COMPONENT_SIGNING_KEY)
    get_filename_component(_vk_private "${VEXLAN_COMPONENT_SIGNING_KEY}" ABSOLUTE)
    if(NOT EXISTS "${_vk_private}")
        message(FATAL_ERROR "VEXLAN_COMPONENT_SIGNING_KEY: no file ${_vk_private}")
    endif()
    file(MAKE_DIRECTORY ${_vk_dir})
    set(_vk_public ${_vk_dir}/component-public.pem)
    _vexlan_key_openssl(pkey -in ${_vk_private} -pubout -passin pass: -out ${_vk_public})
else()
    # Development keys: made once, kept by later configurations of this build tree.
    set(_vk_private ${_vk_dir}/component-signing-key.pem)
    set(_vk_public ${_vk_dir}/component-signing-public.pem)
    file(MAKE_DIRECTORY ${_vk_dir})
    if(NOT EXISTS ${_vk_private})
        _vexlan_key_openssl(genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048
                            -out ${_vk_private}.tmp)
        file(CHMOD ${_vk_private}.tmp PERMISSIONS OWNER_READ OWNER_WRITE)
        file(RENAME ${_vk_private}.tmp ${_vk_private})
        file(REMOVE ${_vk_public})
    endif()
    if(NOT EXISTS ${_vk_public})
        _vexlan_key_openssl(pkey -in ${_vk_private} -pubout -out ${_vk_public})
    endif()
    message(WARNING "This build trusts a development component key (${_vk_public}), made for "
                    "this build tree only: it accepts components signed with "
                    "${_vk_private} and refuses published ones. Release builds pass "
                    "-DVEXLAN_COMPONENT_KEY=<public key file>.")
endif()

# The public key must be a 2048-bit RSA key in PEM form; anything else builds a client that
# refuses every component (it never crashes on it), so say it loudly now.
if(VEXLAN_OPENSSL_EXECUTABLE)
    execute_process(COMMAND ${VEXLAN_OPENSSL_EXECUTABLE} pkey -pubin -in ${_vk_public} -noout -text
                    RESULT_VARIABLE _vk_rc OUTPUT_VARIABLE _vk_text ERROR_QUIET)
    if(NOT _vk_rc EQUAL 0 OR NOT _vk_text MATCHES "Public-Key: \\(2048 bit\\)"
       OR NOT _vk_text MATCHES "Modulus")
        message(WARNING "${_vk_public} is not a 2048-bit RSA public key in PEM form: "
                        "this build will refuse every component.")
    endif()
endif()

# The private half is usable only when it is the public key's other half.
if(_vk_private)
    if(NOT EXISTS "${_vk_private}")
        message(FATAL_ERROR "VEXLAN_COMPONENT_SIGNING_KEY: no file ${_vk_private}")
    endif()
    _vexlan_public_of(_vk_from_private "${_vk_private}" TRUE)
    _vexlan_public_of(_vk_from_public "${_vk_public}" FALSE)
    if(NOT _vk_from_private OR NOT _vk_from_private STREQUAL _vk_from_public)
        message(WARNING "${_vk_private} is not the private half of ${_vk_public}: "
                        "the signing tests and the demo are disabled.")
        set(_vk_private "")
    else()
        file(RELATIVE_PATH _vk_rel ${CMAKE_SOURCE_DIR} "${_vk_private}")
        if(NOT _vk_rel MATCHES "^\\.\\./" AND NOT _vk_private MATCHES "^${CMAKE_BINARY_DIR}/")
            message(WARNING "The private component key ${_vk_private} lies inside the source "
                            "tree: make sure it is never committed.")
        endif()
    endif()
endif()
if(NOT _vk_private)
    message(STATUS "No private half for the component key: the signing tests and the demo "
                   "are disabled (set VEXLAN_COMPONENT_SIGNING_KEY to enable them).")
endif()

set(VEXLAN_COMPONENT_KEY_PATH ${_vk_public})
set(VEXLAN_SIGNING_KEY_PATH "${_vk_private}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_vk_public})

# The key text, built in as a raw string literal.
file(READ ${_vk_public} _vk_pem)
if(_vk_pem MATCHES "\\)vexlan_pem\"")
    message(FATAL_ERROR "${_vk_public} cannot be built in as it is")
endif()
set(_vk_gen ${CMAKE_BINARY_DIR}/generated/componentkey)
file(CONFIGURE OUTPUT ${_vk_gen}/vexlan_component_key.h CONTENT
"// Generated by cmake/VexlanComponentKey.cmake: the public key that component signatures are
// verified with.
#pragma once

// The PEM text (SubjectPublicKeyInfo) of the built-in key, zero-terminated, static.
const char* builtinComponentKey();
" @ONLY)
file(CONFIGURE OUTPUT ${_vk_gen}/vexlan_component_key.cpp CONTENT
"// Generated by cmake/VexlanComponentKey.cmake from @_vk_public@.
#include \"vexlan_component_key.h\"

const char* builtinComponentKey() {
    return R\"vexlan_pem(@_vk_pem@)vexlan_pem\";
}
" @ONLY)

add_library(vexlan_component_key STATIC ${_vk_gen}/vexlan_component_key.cpp)
target_include_directories(vexlan_component_key PUBLIC ${_vk_gen})
target_link_libraries(vexlan_component_key PRIVATE vexlan_defaults INTERFACE vexlan_sanitizers)
set_target_properties(vexlan_component_key PROPERTIES POSITION_INDEPENDENT_CODE ON)

add_library(vexlan_signing_key INTERFACE)
target_compile_definitions(vexlan_signing_key INTERFACE
    VEXLAN_COMPONENT_KEY_PATH="${VEXLAN_COMPONENT_KEY_PATH}"
    VEXLAN_SIGNING_KEY_PATH="${VEXLAN_SIGNING_KEY_PATH}")
