#!/usr/bin/env bash
# Installs what is missing, builds the release and runs the client.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
exec build/release/bin/orvo-client --module-info "$@"
