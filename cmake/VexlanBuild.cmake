# Warning flags, sanitizers and the helper that declares one library per folder.

# The sub-folder that holds a module's system-specific half.
if(WIN32)
    set(VEXLAN_PLATFORM_DIR windows)
else()
    set(VEXLAN_PLATFORM_DIR unix)
endif()

add_library(vexlan_warnings INTERFACE)
target_compile_options(vexlan_warnings INTERFACE
    -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wformat=2
    $<$<BOOL:${VEXLAN_WERROR}>:-Werror>)

add_library(vexlan_sanitizers INTERFACE)
option(VEXLAN_BUILD_FUZZ "Build the libFuzzer targets of fuzz/ (clang only)" OFF)
# The fuzz build (fuzz/, clang only): every library is instrumented for libFuzzer's coverage
# and checked by AddressSanitizer and UndefinedBehaviorSanitizer; the fuzz targets add
# -fsanitize=fuzzer themselves.
if(VEXLAN_BUILD_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    if(NOT VEXLAN_SANITIZE STREQUAL "" AND NOT VEXLAN_SANITIZE STREQUAL "address")
        message(FATAL_ERROR "VEXLAN_BUILD_FUZZ goes with VEXLAN_SANITIZE empty or 'address'")
    endif()
    target_compile_options(vexlan_sanitizers INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer)
    target_link_options(vexlan_sanitizers INTERFACE -fsanitize=address,undefined)
elseif(VEXLAN_SANITIZE STREQUAL "address")
    target_compile_options(vexlan_sanitizers INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(vexlan_sanitizers INTERFACE -fsanitize=address,undefined)
elseif(VEXLAN_SANITIZE STREQUAL "thread")
    target_compile_options(vexlan_sanitizers INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(vexlan_sanitizers INTERFACE -fsanitize=thread)
elseif(NOT VEXLAN_SANITIZE STREQUAL "")
    message(FATAL_ERROR "VEXLAN_SANITIZE must be empty, 'address' or 'thread'")
endif()

# Build flags every target of the project carries.
add_library(vexlan_defaults INTERFACE)
target_link_libraries(vexlan_defaults INTERFACE vexlan_warnings vexlan_sanitizers)

# vexlan_library(NAME <target> SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# Sources of a platform sub-folder (unix/) are listed by the caller like any other.
function(vexlan_library)
    cmake_parse_arguments(ARG "" "NAME;INCLUDE_ROOT" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(${ARG_NAME} STATIC ${ARG_SOURCES})
    if(NOT ARG_INCLUDE_ROOT)
        get_filename_component(ARG_INCLUDE_ROOT ${CMAKE_CURRENT_SOURCE_DIR} DIRECTORY)
    endif()
    target_include_directories(${ARG_NAME} PUBLIC ${ARG_INCLUDE_ROOT})
    target_link_libraries(${ARG_NAME} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE vexlan_defaults ${ARG_PRIVATE_LIBS})
    # Sanitizer flags must reach whatever links the library, or the runtime is missing.
    target_link_libraries(${ARG_NAME} INTERFACE vexlan_sanitizers)
    set_target_properties(${ARG_NAME} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# vexlan_folder_library(<target> [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# The library of the current folder: every .cpp of the folder and of its platform sub-folder
# (windows/ in the Windows build, unix/ otherwise). A folder without sources is a configuration
# error that names it.
function(vexlan_folder_library target)
    cmake_parse_arguments(ARG "" "" "PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
                                        ${CMAKE_CURRENT_SOURCE_DIR}/${VEXLAN_PLATFORM_DIR}/*.cpp)
    if(NOT sources)
        message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}: no sources for the library ${target}")
    endif()
    vexlan_library(NAME ${target} SOURCES ${sources}
                   PUBLIC_LIBS ${ARG_PUBLIC_LIBS} PRIVATE_LIBS ${ARG_PRIVATE_LIBS})
endfunction()
