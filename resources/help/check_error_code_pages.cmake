# Makes both help pages of the general error codes from the table and fails
# unless each has the row of every code the table names, with its name in
# the page's language.
# usage: cmake -DTABLE=error_codes.tsv -DHELP=resources/help -DWORK=dir
#              -P check_error_code_pages.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../error_codes.cmake)

foreach(lang en de)
  set(page ${WORK}/${lang}/error_codes.htm)
  file(MAKE_DIRECTORY ${WORK}/${lang})
  quillon_error_code_page(${TABLE} ${lang} ${HELP}/error_codes_${lang}.htm.in ${page})
  file(READ ${page} text)
  quillon_check_error_code_page(${TABLE} ${lang} "${text}" "${lang}/error_codes.htm")
endforeach()
message(STATUS "error code pages: every row in both languages")
