# Writes the STRINGTABLE of a .rc file as a C++ table for the native build,
# so that tarnres.rc stays the one source of the English texts.
# usage: cmake -DRC=tarnres.rc -DOUT=english_strings.cpp -P strings_from_rc.cmake
# Each entry must sit on one line: IDS_NAME, "text" (C escapes; "" for a quote).
# The one include the table may hold, the names of the general error codes,
# is read from error_codes.tsv the way the Windows build makes it.
include(${CMAKE_CURRENT_LIST_DIR}/error_codes.cmake)

get_filename_component(rc_name "${RC}" NAME)
quillon_file_lines("${RC}" lines)

# The lines of an included names file stand in place of the include.
set(expanded "")
foreach(line IN LISTS lines)
  if(line MATCHES "^#include \"error_code_names_([a-z]+)\\.rc\"")
    quillon_error_code_rc_lines(${CMAKE_CURRENT_LIST_DIR}/error_codes.tsv ${CMAKE_MATCH_1} names)
    list(APPEND expanded ${names})
  else()
    list(APPEND expanded "${line}")
  endif()
endforeach()

set(entries "")
set(count 0)
set(inside OFF)
foreach(line IN LISTS expanded)
  string(STRIP "${line}" line)
  if(line MATCHES "^STRINGTABLE")
    set(inside ON)
  elseif(inside AND line STREQUAL "END")
    set(inside OFF)
  elseif(inside AND line MATCHES "^([A-Za-z_][A-Za-z0-9_]*|[0-9]+)[ \t]*,[ \t]*\"(.*)\"$")
    set(id "${CMAKE_MATCH_1}")
    set(text "${CMAKE_MATCH_2}")
    string(REPLACE "\"\"" "\\\"" text "${text}")
    quillon_plain_text("${text}" text)
    string(APPEND entries "    {${id}, \"${text}\"},\n")
    math(EXPR count "${count} + 1")
  elseif(inside AND NOT line STREQUAL "BEGIN" AND NOT line STREQUAL "" AND NOT line MATCHES "^//")
    message(FATAL_ERROR "${RC}: string table entry not in the form IDS_NAME, \"text\": ${line}")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "${RC}: no STRINGTABLE entries found")
endif()

file(WRITE "${OUT}.tmp"
"// Generated from ${rc_name} by strings_from_rc.cmake. Do not edit.
#include \"persist/native_seams.h\"
#include \"resource.h\"

namespace persist {

const ResString ENGLISH_STRINGS[] = {
${entries}};
const size_t ENGLISH_STRING_COUNT = sizeof ENGLISH_STRINGS / sizeof ENGLISH_STRINGS[0];

}  // namespace persist
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
