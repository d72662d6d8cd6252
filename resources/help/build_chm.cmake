# Compiles one help project with chmcmd and checks the result: every file of
# the project's [FILES] list and every topic of its table of contents must be
# in the archive, and the error code page must have every row of the table
# of general error codes.
# usage: cmake -DSOURCE=dir -DGENERATED=page.htm -DWORK=dir -DPROJECT=x.hhp
#              -DENCODING=cp -DOUT=x.chm -DCHMCMD=.. -DCHMLS=.. -DICONV=..
#              -DTABLE=error_codes.tsv -DLANG=en -P build_chm.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../error_codes.cmake)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(GLOB files ${SOURCE}/*)
foreach(path IN LISTS files GENERATED)
  get_filename_component(f ${path} NAME)
  execute_process(COMMAND ${ICONV} -f UTF-8 -t ${ENCODING} ${path}
                  OUTPUT_FILE ${WORK}/${f} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${f}: not convertible from UTF-8 to ${ENCODING}")
  endif()
endforeach()

get_filename_component(name ${PROJECT} NAME_WE)
execute_process(COMMAND ${CHMCMD} --verbosity 1 ${PROJECT} WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT rc EQUAL 0 OR NOT EXISTS ${WORK}/${name}.chm)
  message(FATAL_ERROR "chmcmd ${PROJECT} failed:\n${log}")
endif()
# Notes are fine; errors and warnings (a missing file or link) are not.
if(log MATCHES "(^|\n)(Error|Warning)")
  message(FATAL_ERROR "chmcmd ${PROJECT} reported problems:\n${log}")
endif()
set(chm ${WORK}/${name}.chm)

# What the archive holds.
execute_process(COMMAND ${CHMLS} --no-page --name-only list ${chm}
                RESULT_VARIABLE rc OUTPUT_VARIABLE listing ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "chmls cannot read ${chm}: ${err}")
endif()
string(REPLACE "\n" ";" names "${listing}")
list(TRANSFORM names STRIP)

# The project's own file list and the topics of its table of contents.
file(STRINGS ${WORK}/${PROJECT} project)
set(wanted "")
set(inside OFF)
foreach(line IN LISTS project)
  if(line MATCHES "^\\[")
    set(inside OFF)
    if(line STREQUAL "[FILES]")
      set(inside ON)
    endif()
  elseif(inside AND NOT line STREQUAL "")
    list(APPEND wanted ${line})
  endif()
endforeach()
file(STRINGS ${WORK}/toc.hhc toc REGEX "name=\"Local\"")
set(topics 0)
foreach(line IN LISTS toc)
  if(line MATCHES "name=\"Local\" value=\"([^\"#]+)")
    list(APPEND wanted ${CMAKE_MATCH_1})
    math(EXPR topics "${topics} + 1")
  endif()
endforeach()
if(topics LESS 10)
  message(FATAL_ERROR "${name}: only ${topics} topics in the table of contents")
endif()
list(REMOVE_DUPLICATES wanted)
foreach(f IN LISTS wanted)
  if(NOT "/${f}" IN_LIST names)
    message(FATAL_ERROR "${name}.chm lacks ${f}")
  endif()
endforeach()

# The page that message 1016 sends the user to, read back out of the
# archive: one row per row of the table of codes.
execute_process(COMMAND ${CHMLS} extract ${chm} /error_codes.htm ${WORK}/extracted.htm
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 0 OR NOT EXISTS ${WORK}/extracted.htm)
  message(FATAL_ERROR "${name}.chm: error code page cannot be extracted")
endif()
execute_process(COMMAND ${ICONV} -f ${ENCODING} -t UTF-8 ${WORK}/extracted.htm
                OUTPUT_VARIABLE page RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${name}.chm: error code page not in ${ENCODING}")
endif()
quillon_check_error_code_page(${TABLE} ${LANG} "${page}" "${name}.chm error_codes.htm")

file(COPY_FILE ${chm} ${OUT})
