# Highlighter pack (highlight/highlight.pack.js), generated from the system's
# highlight.js bundle (Debian package libjs-highlight.js) into the staged data
# of the build tree and installed with the other data. Included by
# data/CMakeLists.txt.
set(QUARVEL_HIGHLIGHT_SOURCE "/usr/share/javascript/highlight.js/highlight.js"
    CACHE FILEPATH "highlight.js browser bundle the SQL highlighter is cut from")

set(_hl_dir ${CMAKE_CURRENT_SOURCE_DIR}/highlight)
set(_hl_pack ${QUARVEL_STAGED_DATA_DIR}/highlight/highlight.pack.js)
add_custom_command(OUTPUT ${_hl_pack}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUARVEL_STAGED_DATA_DIR}/highlight
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${QUARVEL_HIGHLIGHT_SOURCE}
            -DSHIMS=${_hl_dir}/shims.js -DOUTPUT=${_hl_pack}
            -P ${_hl_dir}/makepack.cmake
    DEPENDS ${QUARVEL_HIGHLIGHT_SOURCE} ${_hl_dir}/shims.js ${_hl_dir}/makepack.cmake
    COMMENT "Generating highlight.pack.js (core and SQL)"
    VERBATIM)
add_custom_target(quarvel_data_highlight DEPENDS ${_hl_pack})
add_dependencies(quarvel_data quarvel_data_highlight)

install(FILES ${_hl_pack} DESTINATION ${QUARVEL_DATA_INSTALL_DIR}/highlight)
