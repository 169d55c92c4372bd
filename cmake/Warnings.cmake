# Common warning set, applied per target with orvo_warnings(target).
function(orvo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough)
  # GCC 12 at -O2 and above reports overlapping copies inside std::string's inlined operator+ that cannot
  # happen (its -Wrestrict false positive, fixed in GCC 13); with -Werror it stops optimised builds on
  # ordinary string concatenation.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(ORVO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
