#!/bin/bash
# Every server of the list lost under a live list of 100,040 stop-loss rows, as the desk meets it: two
# orvo-counterd on one large demo database, the client on both with a refresh every 2 s showing F2; once
# its rows are in, both servers are killed. Measured: the rows still shown after 10 ticks and after 40 s,
# the marker, the failure notices shown, the requests tried while the servers are away, and the client's
# CPU while every server is away (utime + stime over 30 s, in % of one core). Then one server comes back
# and the list is current again.
# Run from the repository: bench/client/outage.sh [build/release]
set -euo pipefail
build=${1:-build/release}
client=$build/bin/orvo-client
counterd=$build/bin/orvo-counterd
work=$(mktemp -d /tmp/orvo-outage-XXXXXX)
port1=$((20000 + RANDOM % 20000))
port2=$((port1 + 1))
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

server_pid=
start_server() { # port; its process id in server_pid (not in a subshell, so that the clean-up sees it)
    "$counterd" --listen "127.0.0.1:$1" --db "$work/shared.db" >>"$work/server-$1.log" 2>&1 &
    server_pid=$!
    pids+=("$server_pid")
}
wait_for() { # file, seconds
    for _ in $(seq 1 $(($2 * 10))); do [ -e "$1" ] && return 0; sleep 0.1; done
    echo "timed out waiting for $1" >&2
    exit 1
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

"$counterd" --db "$work/shared.db" --demo --size large --listen "127.0.0.1:$((port1 + 2))" >"$work/seed.log" 2>&1 &
seed=$!
sleep 8
kill "$seed"
wait "$seed" 2>/dev/null || true
start_server $port1
s1=$server_pid
start_server $port2
s2=$server_pid
sleep 3

cat >"$work/outage.script" <<SCRIPT
open 893
ok
tab 1
dump before.json
wait 22000
dump ticks.json
wait 45000
dump away.json
wait 40000
dump back.json
SCRIPT
(cd "$work" && ORVO_PASSWORD=admin QT_QPA_PLATFORM=offscreen "$OLDPWD/$client" \
    --server "127.0.0.1:$port1,127.0.0.1:$port2" --operator admin --refresh 2 --trace trace.jsonl \
    --script outage.script >client.out 2>client.err) &
client_shell=$!
wait_for "$work/before.json" 120
client_pid=$(pgrep -n -P "$client_shell" orvo-client || true)
[ -n "$client_pid" ] || client_pid=$(pgrep -n orvo-client)
kill "$s1" "$s2"
# Clear of the dumps (writing 100,040 rows as JSON is work of the script, not of the client's waiting).
sleep 30
ticks0=$(cpu_ticks "$client_pid")
sleep 30
ticks1=$(cpu_ticks "$client_pid")
hz=$(getconf CLK_TCK)
wait_for "$work/away.json" 60
start_server $port1
wait "$client_shell" || true

python3 - "$work" "$ticks0" "$ticks1" "$hz" <<'PY'
import json, sys, os
work, t0, t1, hz = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
def window(name, wid):
    d = json.load(open(os.path.join(work, name)))
    return next(w for w in d["windows"] if w["id"] == wid)
def l1(name):
    w = window(name, 9000)
    c = next(c for c in w["controls"] if c["id"] == "L1")
    return len(c["rows"]), c["stale"], w["status"]
for name in ("before.json", "ticks.json", "away.json", "back.json"):
    rows, stale, status = l1(name)
    host = window(name, 0)
    print(f"{name:12} rows {rows:6}  stale {str(stale):5}  status {status[:60]}")
    print(f"{'':12} host failure: {host['failure']!r}  notice: {host['notice']!r}")
tried = [json.loads(l) for l in open(os.path.join(work, "trace.jsonl"))]
failed = [t for t in tried if t.get("status") == -1]
print(f"requests failed while away: {len(failed)}")
print(f"client CPU while every server is away: {100.0 * (t1 - t0) / hz / 30:.2f} % of a core (30 s)")
PY
grep -c "request .* failed" "$work/client.err" | sed 's/^/failure lines in the log: /'
grep -c "answers again" "$work/client.err" | sed 's/^/recovery lines in the log: /' || true
echo "work folder: $work"
