# The frame reader under libFuzzer:
#   cmake --preset fuzz && cmake --build --preset fuzz --target protocol_reader_fuzz
#   build/fuzz/bin/protocol_reader_fuzz -max_total_time=60 CORPUS_COPY fuzz/corpus/protocol
# The codec's sources are compiled into the target itself, so they carry the fuzzer's coverage counters.
file(GLOB protocol_sources ${PROJECT_SOURCE_DIR}/protocol/*.cpp)
orvo_fuzz(protocol_reader_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/protocol_reader.cpp ${protocol_sources})
