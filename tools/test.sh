#!/usr/bin/env bash
# Installs what is missing, builds under the sanitizers and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$(nproc)"
ctest --preset asan -j "$(nproc)"

# A short run of the real libFuzzer target over the frame reader (the ordinary tests replay its corpus).
if command -v clang++ >/dev/null; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz --target protocol_reader_fuzz -j "$(nproc)"
  fuzz_corpus=$(mktemp -d)
  trap 'rm -rf "$fuzz_corpus"' EXIT
  if ! build/fuzz/bin/protocol_reader_fuzz -max_total_time=20 -max_len=4096 \
      "$fuzz_corpus" fuzz/corpus/protocol >"$fuzz_corpus.log" 2>&1; then
    tail -n 60 "$fuzz_corpus.log"
    exit 1
  fi
  tail -n 1 "$fuzz_corpus.log"
  rm -f "$fuzz_corpus.log"
fi
