#!/usr/bin/env bash
# Installs what is missing, builds under the sanitizers and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh

# A short run of the real libFuzzer target over the frame reader first (the ordinary tests replay its
# corpus with mutations too), so that the test summary stays the last thing printed.
if command -v clang++ >/dev/null; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz --target protocol_reader_fuzz -j "$(nproc)"
  fuzz_log=$(mktemp)
  fuzz_corpus=$(mktemp -d)
  trap 'rm -rf "$fuzz_corpus" "$fuzz_log"' EXIT
  if ! build/fuzz/bin/protocol_reader_fuzz -max_total_time=20 -max_len=4096 \
      "$fuzz_corpus" fuzz/corpus/protocol >"$fuzz_log" 2>&1; then
    tail -n 60 "$fuzz_log"
    echo "fuzz: the frame reader failed" >&2
    exit 1
  fi
  echo "fuzz: $(tail -n 1 "$fuzz_log")"
fi

# The Debian packages of a release build, installed, upgraded from 1.0.0 and purged on this machine as
# the documentation says (root only: it installs packages; it leaves none behind).
if [[ $(id -u) -eq 0 ]]; then
  cmake --preset package >/dev/null
  cmake --build --preset package -j "$(nproc)"
  tests/install/package_test.sh build/package
else
  echo "package test: not root, skipped"
fi

# The sanitizer build and every test last, so that the test summary ends the output.
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$(nproc)"
ctest --preset asan -j "$(nproc)"
