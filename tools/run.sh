#!/usr/bin/env bash
# The main job: installs what is missing, builds the release and runs orvo-client with the demo counter
# server embedded. With a display it opens the extended order query at once; without one (no DISPLAY or
# WAYLAND_DISPLAY) it runs the demo tour offscreen: a screenshot and a dump of every step in a folder it
# names, and every list printed as a text table. Arguments go to orvo-client (e.g. --server HOST:PORT).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tools/setup.sh
# Warnings stay errors in CI (tools/test.sh); a user's build of the release should not stop at a warning
# that a newer or older compiler happens to give.
cmake --preset release -DORVO_WERROR=OFF >/dev/null
cmake --build --preset release -j "${JOBS:-$(nproc)}" --target orvo-client
client="$root/build/release/bin/orvo-client"

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec "$client" --open 893 "$@"
fi

out="$root/build/tour-$(date +%Y%m%d-%H%M%S)"
mkdir -p "$out"
echo "run: no display; the demo tour runs offscreen, screenshots and dumps go to $out"
status=0
(cd "$out" && QT_QPA_PLATFORM=offscreen "$client" --script "$root/tools/tour.script" --trace trace.jsonl "$@") ||
  status=$?
for dump in "$out"/*.json; do
  [[ -e $dump ]] || continue
  echo
  echo "### step $(basename "$dump" .json)"
  QT_QPA_PLATFORM=offscreen "$client" --print-dump "$dump"
done
if ((status != 0)); then
  echo "run: the tour stopped with exit code $status; what it reached is in $out" >&2
  exit "$status"
fi
echo "run: tour done; screenshots (*.png), dumps (*.json) and the request trace are in $out"
