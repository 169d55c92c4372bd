#!/usr/bin/env bash
# The main job: installs what is missing, builds the release and runs orvo-client with the demo counter
# server embedded. With a display it opens the extended order query at once; without one (no DISPLAY or
# WAYLAND_DISPLAY) it runs the demo tour offscreen: a screenshot and a dump of every step in a folder it
# names, and every list printed as a text table; then its live step, with a simulated trading session on
# a copy of the demo database and a refresh every second. Arguments go to orvo-client (e.g. --server
# HOST:PORT).
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
# The live step runs on its own client: the steps before it show the demo data as seeded, unrefreshed.
if ((status == 0)); then
  (cd "$out" && QT_QPA_PLATFORM=offscreen "$client" --simulate 10 --seed 1 --refresh 1 \
    --script "$root/tools/tour-live.script" --trace trace-live.jsonl "$@") || status=$?
fi
for dump in "$out"/*.json; do
  [[ -e $dump ]] || continue
  echo
  echo "### step $(basename "$dump" .json)"
  QT_QPA_PLATFORM=offscreen "$client" --print-dump "$dump"
  if [[ $dump == *live* ]]; then # the status line ("实时 ...") and the lists' tinted rows
    grep -o '"status": "[^"]*"' "$dump" | head -1 || true
    grep -o '"id": "[^"]*", "kind": "list"\|"changedRows": \[[^]]*[0-9][^]]*\]' "$dump" |
      grep -B1 changedRows | grep -v '^--' || true
  fi
done
if ((status != 0)); then
  echo "run: the tour stopped with exit code $status; what it reached is in $out" >&2
  exit "$status"
fi
echo "run: tour done; screenshots (*.png), dumps (*.json) and the request traces (trace*.jsonl) are in $out"
