# cmake -DPAGE=FILE.1.in-configured -DOPTIONS=FILE -DOUTPUT=FILE.1 -P ManPage.cmake
# Puts the OPTIONS section the program printed from its option table in place of the marker line of the
# hand-written page. The marker must be there exactly once: a page without its options is a build error.
file(READ "${PAGE}" page)
file(READ "${OPTIONS}" options)
set(marker ".\\\" OPTIONS-GENERATED\n")
string(FIND "${page}" "${marker}" first)
string(FIND "${page}" "${marker}" last REVERSE)
if(first LESS 0 OR NOT first EQUAL last)
  message(FATAL_ERROR "${PAGE}: wants the line '.\\\" OPTIONS-GENERATED' once")
endif()
if(options STREQUAL "")
  message(FATAL_ERROR "${OPTIONS}: the program printed no options")
endif()
string(REPLACE "${marker}" "${options}" page "${page}")
file(WRITE "${OUTPUT}.tmp" "${page}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
