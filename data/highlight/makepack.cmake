# Builds the highlighter pack evaluated by the SQL editor's script engine:
# the highlight.js core and its SQL language, cut out of the system's browser
# bundle, behind a few ES5 shims the script engine lacks.
#
#   cmake -DSOURCE=<highlight.js bundle> -DSHIMS=<shims.js> -DOUTPUT=<pack> -P makepack.cmake
#
# The bundle is one file: the core (a factory that ends with "}));;"), then one
# hljs.registerLanguage('name', ...) block per language, each closing with
# a line "});". Only the core and the 'sql' block are kept; the whole bundle
# does not even parse in the script engine.

foreach(_v SOURCE SHIMS OUTPUT)
  if(NOT DEFINED ${_v})
    message(FATAL_ERROR "makepack.cmake: ${_v} is not set")
  endif()
endforeach()
if(NOT EXISTS "${SOURCE}")
  message(FATAL_ERROR "makepack.cmake: ${SOURCE} not found (package libjs-highlight.js)")
endif()

file(READ "${SOURCE}" _js)
file(READ "${SHIMS}" _shims)

# Core: everything up to the end of the factory call.
string(FIND "${_js}" "\n}));" _core_end)
if(_core_end EQUAL -1)
  message(FATAL_ERROR "makepack.cmake: end of the highlight.js core not found in ${SOURCE}")
endif()
math(EXPR _core_len "${_core_end} + 5")
string(SUBSTRING "${_js}" 0 ${_core_len} _core)

# SQL language: from its registerLanguage call up to the first "\n});" after it.
string(FIND "${_js}" "hljs.registerLanguage('sql'" _sql_begin)
if(_sql_begin EQUAL -1)
  message(FATAL_ERROR "makepack.cmake: the sql language is missing from ${SOURCE}")
endif()
string(SUBSTRING "${_js}" ${_sql_begin} -1 _rest)
string(FIND "${_rest}" "\n});" _sql_end)
if(_sql_end EQUAL -1)
  message(FATAL_ERROR "makepack.cmake: end of the sql language not found in ${SOURCE}")
endif()
math(EXPR _sql_len "${_sql_end} + 4")
string(SUBSTRING "${_rest}" 0 ${_sql_len} _sql)

file(WRITE "${OUTPUT}.tmp"
  "/* Generated at build time from ${SOURCE}: core and SQL language only. */\n"
  "${_shims}\n${_core};\n\n${_sql}\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
