# Test helpers: one GoogleTest executable per library, discovered by CTest.
find_package(GTest REQUIRED)
include(GoogleTest)

# vexlan_test(NAME <exe> SOURCES ... LIBS ... [LABELS ...] [RESOURCE_LOCK ...] [TIMEOUT s]
#             [ENVIRONMENT VAR=value ...])
# LABELS are attached to every discovered test ("threads" tests also run under TSan in CI).
# RESOURCE_LOCK names a resource shared between test executables, such as the fixed log path.
# ENVIRONMENT is set for every discovered test.
function(vexlan_test)
    cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;RESOURCE_LOCK;ENVIRONMENT" ${ARGN})
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} vexlan_testing GTest::gtest GTest::gmock
                          GTest::gtest_main vexlan_defaults)
    # Committed fixtures live in tests/data beside the test sources.
    target_compile_definitions(${ARG_NAME} PRIVATE
        VEXLAN_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set(props TIMEOUT ${ARG_TIMEOUT})
    if(ARG_LABELS)
        # gtest_discover_tests splits PROPERTIES at ";": escape the separators of the list.
        string(REPLACE ";" "\\;" labels "${ARG_LABELS}")
        list(APPEND props LABELS "${labels}")
    endif()
    if(ARG_RESOURCE_LOCK)
        list(APPEND props RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
    endif()
    if(ARG_ENVIRONMENT)
        string(REPLACE ";" "\\;" environment "${ARG_ENVIRONMENT}")
        list(APPEND props ENVIRONMENT "${environment}")
    endif()
    if(WIN32)
        # Under Wine each start of a program costs seconds: the Windows build runs each test
        # program once, as one CTest test, instead of once per discovered case.
        add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME}
                 WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
        set_tests_properties(${ARG_NAME} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
            LABELS "${ARG_LABELS}" RESOURCE_LOCK "${ARG_RESOURCE_LOCK}"
            ENVIRONMENT "${ARG_ENVIRONMENT}")
        return()
    endif()
    gtest_discover_tests(${ARG_NAME}
        DISCOVERY_MODE PRE_TEST
        WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
        PROPERTIES ${props})
endfunction()
