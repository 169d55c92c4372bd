#!/bin/bash
# A live list read in the middle while the market moves: orvo-counterd plays a trading session of 200
# changes a second on the large demo, the client refreshes F2 (100,040 stop-loss rules) every second,
# sorted by the take-profit trigger price and scrolled to the middle. Every 10 s for 60 s a dump tells the
# first row in view (topRow): measured, how often it changed while it was still in the list, and how often
# because it changed itself.
# Run from the repository: bench/client/anchored.sh [build/release] [a large demo database to copy]
set -euo pipefail
build=${1:-build/release}
client=$build/bin/orvo-client
counterd=$build/bin/orvo-counterd
work=$(mktemp -d /tmp/orvo-anchored-XXXXXX)
port=$((20000 + RANDOM % 20000))
if [ -n "${2:-}" ]; then
    cp "$2" "$work/market.db"
    demo=(--demo)
else
    demo=(--demo --size large)
fi
"$counterd" --listen "127.0.0.1:$port" --db "$work/market.db" "${demo[@]}" --simulate 200 >"$work/server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
sleep 8

{
    printf 'open 893\nok\ntab 1\nheader L1 9\nrow L1 50000\n'
    for i in $(seq -w 0 6); do printf 'dump top%s.json\nwait 10000\n' "$i"; done
} >"$work/anchored.script"
(cd "$work" && ORVO_PASSWORD=admin QT_QPA_PLATFORM=offscreen "$OLDPWD/$client" --server "127.0.0.1:$port" \
    --operator admin --refresh 1 --script anchored.script >client.out 2>client.err)

python3 - "$work" <<'PY'
import json, sys, os, glob
work = sys.argv[1]
tops = []
for name in sorted(glob.glob(os.path.join(work, "top*.json"))):
    window = next(w for w in json.load(open(name))["windows"] if w["id"] == 9000)
    lst = next(c for c in window["controls"] if c["id"] == "L1")
    serials = [row[0] for row in lst["rows"]]
    top = serials[lst["topRow"]] if lst["topRow"] >= 0 else None
    changed = {serials[r] for r in lst["changedRows"]}
    tops.append((top, set(serials), changed, len(serials), lst["shownRows"].index(lst["topRow"])))
moved = moved_itself = left = 0
for (before, _, _, _, _), (after, rows, changed, _, _) in zip(tops, tops[1:]):
    if after == before:
        continue
    if before not in rows:
        left += 1
    elif before in changed:
        moved_itself += 1
    else:
        moved += 1
print(f"rows in F2: {tops[0][3]}, first line in view at line {tops[0][4]} of the sorted list")
print(f"dumps: {len(tops)} over {10 * (len(tops) - 1)} s; first row in view: {[t[0] for t in tops]}")
print(f"changed while still listed and unchanged itself: {moved}; the row changed itself: {moved_itself}; left: {left}")
PY
echo "work folder: $work"
