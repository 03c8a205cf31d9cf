# Run at install time (cmake -P is not needed: it is included by cmake_install.cmake) to make
# the files of the package that are derived from committed sources: the hicolor icons from the
# program's logo, the gzip'd manual pages and changelog. They are written to VEXLAN_GEN_DIR.
file(REMOVE_RECURSE "${VEXLAN_GEN_DIR}")
file(MAKE_DIRECTORY "${VEXLAN_GEN_DIR}/icons/hicolor/scalable/apps" "${VEXLAN_GEN_DIR}/man"
                    "${VEXLAN_GEN_DIR}/doc")

# Icons: every picture of the logo's .ico file, by its size, and the drawing as scalable icon.
find_program(VEXLAN_IDENTIFY identify)
find_program(VEXLAN_CONVERT convert)
if(NOT VEXLAN_IDENTIFY OR NOT VEXLAN_CONVERT)
    message(FATAL_ERROR "Packaging needs ImageMagick (identify, convert): run scripts/setup.sh")
endif()
execute_process(COMMAND "${VEXLAN_IDENTIFY}" -format "%w\n" "${VEXLAN_LOGO_ICO}"
                OUTPUT_VARIABLE widths RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot read ${VEXLAN_LOGO_ICO}")
endif()
string(STRIP "${widths}" widths)
string(REPLACE "\n" ";" widths "${widths}")
set(index 0)
foreach(width ${widths})
    set(dir "${VEXLAN_GEN_DIR}/icons/hicolor/${width}x${width}/apps")
    file(MAKE_DIRECTORY "${dir}")
    execute_process(COMMAND "${VEXLAN_CONVERT}" "${VEXLAN_LOGO_ICO}[${index}]" -strip
                            "png:${dir}/vexlanclient.png" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "cannot extract picture ${index} of ${VEXLAN_LOGO_ICO}")
    endif()
    math(EXPR index "${index} + 1")
endforeach()
file(COPY_FILE "${VEXLAN_LOGO_SVG}" "${VEXLAN_GEN_DIR}/icons/hicolor/scalable/apps/vexlanclient.svg")

# Manual pages and the changelog, compressed without a timestamp.
find_program(VEXLAN_GZIP gzip REQUIRED)
function(vexlan_gzip from to)
    execute_process(COMMAND "${VEXLAN_GZIP}" -9nc "${from}" OUTPUT_FILE "${to}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "gzip ${from} failed")
    endif()
endfunction()
foreach(page ${VEXLAN_MAN_PAGES})
    get_filename_component(name "${page}" NAME)
    vexlan_gzip("${page}" "${VEXLAN_GEN_DIR}/man/${name}.gz")
endforeach()
vexlan_gzip("${VEXLAN_CHANGELOG}" "${VEXLAN_GEN_DIR}/doc/changelog.gz")
