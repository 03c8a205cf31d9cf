# vexlan_duktape: the JavaScript engine that evaluates proxy auto-config scripts, built from
# the source that Debian's duktape-dev ships in /usr/share/duktape. The packaged library is
# configured without an execution time-out, so a script that never returns would hang its
# caller; this build turns the time-out check on (it calls vexlan_duk_exec_timeout, defined by
# the proxy-script code) and lowers the regular-expression step limit from 1e9 to 1e7 so that
# one pathological pattern cannot stall a caller for many seconds between two checks.

set(VEXLAN_DUKTAPE_SOURCE "/usr/share/duktape" CACHE PATH "Folder holding duktape.c, duktape.h and duk_config.h")
foreach(f duktape.c duktape.h duk_config.h)
    if(NOT EXISTS ${VEXLAN_DUKTAPE_SOURCE}/${f})
        message(FATAL_ERROR "Duktape source ${VEXLAN_DUKTAPE_SOURCE}/${f} is missing (Debian package duktape-dev)")
    endif()
endforeach()

set(duk_out ${CMAKE_CURRENT_BINARY_DIR}/duktape)

function(vexlan_duktape_patch file from to)
    file(READ ${duk_out}/${file}.in text)
    string(FIND "${text}" "${from}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "Cannot configure Duktape: '${from}' not found in ${file}")
    endif()
    string(REPLACE "${from}" "${to}" text "${text}")
    file(WRITE ${duk_out}/${file}.in "${text}")
endfunction()

# Every file is copied beside the patched configuration header, so that duktape.c's
# #include "duk_config.h" finds ours and not the one next to the original.
foreach(f duktape.c duktape.h duk_config.h)
    configure_file(${VEXLAN_DUKTAPE_SOURCE}/${f} ${duk_out}/${f}.in COPYONLY)
endforeach()
vexlan_duktape_patch(duk_config.h "#undef DUK_USE_INTERRUPT_COUNTER" "#define DUK_USE_INTERRUPT_COUNTER")
vexlan_duktape_patch(duk_config.h "#undef DUK_USE_EXEC_TIMEOUT_CHECK"
"#if defined(__cplusplus)
extern \"C\" int vexlan_duk_exec_timeout(void *udata);
#else
extern int vexlan_duk_exec_timeout(void *udata);
#endif
#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) vexlan_duk_exec_timeout(udata)")
vexlan_duktape_patch(duktape.c "#define DUK_RE_EXECUTE_STEPS_LIMIT 1000000000L"
                     "#define DUK_RE_EXECUTE_STEPS_LIMIT 10000000L")
# Rewritten only when the content changes, so that a new configure run rebuilds nothing.
foreach(f duktape.c duktape.h duk_config.h)
    configure_file(${duk_out}/${f}.in ${duk_out}/${f} COPYONLY)
endforeach()

add_library(vexlan_duktape STATIC ${duk_out}/duktape.c)
target_include_directories(vexlan_duktape SYSTEM PUBLIC ${duk_out})
target_compile_options(vexlan_duktape PRIVATE -w)
target_link_libraries(vexlan_duktape PUBLIC m PRIVATE vexlan_sanitizers)
set_target_properties(vexlan_duktape PROPERTIES POSITION_INDEPENDENT_CODE ON)
