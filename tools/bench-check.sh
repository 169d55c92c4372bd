#!/usr/bin/env bash
# Runs the benchmarks behind every performance figure the project promises, in one run, and prints each
# figure beside its target from docs/performance.md; exits 1 when one is missed, 2 when a benchmark could
# not run. Figures are medians of several repetitions. Timings need a quiet machine: on one shared with
# builds they are noisy, so this is a check to run by hand, not a test. Takes 3-5 minutes.
#
#   cmake --preset release && cmake --build --preset release
#   tools/bench-check.sh [REPETITIONS]        (default 6; the slow server benchmarks run half as many)
set -euo pipefail
cd "$(dirname "$0")/.."

bin=build/release/bin
doc=docs/performance.md
reps=$((${1:-6} < 2 ? 2 : ${1:-6})) # medians need two runs or more
slow_reps=$(((reps + 1) / 2 < 2 ? 2 : (reps + 1) / 2))
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ ! -x /usr/bin/time ]]; then
  echo "bench-check: /usr/bin/time (package time) counts the runs' page faults: tools/setup.sh" >&2
  exit 2
fi
for program in window_bench bench_protocol_decode bench_server_rules bench_server_changes; do
  if [[ ! -x $bin/$program ]]; then
    echo "bench-check: $bin/$program is missing: cmake --preset release && cmake --build --preset release" >&2
    exit 2
  fi
done

# run NAME PROGRAM FILTER REPETITIONS: the medians go to $work/NAME.json, the minor page faults of the
# whole process to $work/NAME.faults.
run() {
  local name=$1 program=$2 filter=$3 repetitions=$4
  printf 'running %-22s %s\n' "$name" "$program --benchmark_filter='$filter'" >&2
  if ! /usr/bin/time -f %R -o "$work/$name.faults" "$bin/$program" --benchmark_filter="$filter" --benchmark_repetitions="$repetitions" \
      --benchmark_report_aggregates_only=true --benchmark_out="$work/$name.json" \
      --benchmark_out_format=json >"$work/$name.log" 2>&1; then
    tail -n 20 "$work/$name.log" >&2
    echo "bench-check: $program failed" >&2
    exit 2
  fi
}

# median NAME BENCHMARK [FIELD]: a field (real_time unless named) of a benchmark's median, from Google
# Benchmark's JSON, which writes one field a line.
median() {
  awk -v want="$2_median" -v field="${3:-real_time}" '
    /^ *"name": / { name = $0; sub(/^ *"name": "/, "", name); sub(/",?$/, "", name); next }
    name == want && $0 ~ "^ *\"" field "\": " {
      value = $0; sub(/^[^:]*: */, "", value); sub(/,$/, "", value); printf "%.4g\n", value; found = 1; exit
    }
    END { if (!found) exit 1 }' "$work/$1.json" || {
    echo "bench-check: no median of $2 (${3:-real_time}) in the results of $1" >&2
    exit 2
  }
}

# The minor page faults of a run's whole process; of each timed iteration, the benchmarks' own counter.
faults() { tail -n 1 "$work/$1.faults"; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 1e9) }'; }
percent() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? 100 * a / b : 1e9) }'; }

# The target of a figure: the number in the Target column of its row in docs/performance.md.
target() {
  awk -F'|' -v key="\`$1\`" '
    { k = $2; gsub(/^ +| +$/, "", k) }
    k == key { t = $5; gsub(/[^0-9.]/, "", t); print t; found = 1; exit }
    END { if (!found) exit 1 }' "$doc" || {
    echo "bench-check: $doc has no row for $1" >&2
    exit 2
  }
}

missed=0
# check KEY VALUE UNIT WHAT: prints the figure beside its target (every target is an upper bound).
check() {
  local key=$1 value=$2 unit=$3 what=$4 limit verdict=ok
  limit=$(target "$key")
  if ! awk -v v="$value" -v t="$limit" 'BEGIN { exit !(v <= t) }'; then
    verdict=MISSED
    missed=1
  fi
  printf '%-16s %10s %-4s  target <= %-6s %-6s  %s\n' "$key" "$value" "$unit" "$limit" "$verdict" "$what"
}

started=$SECONDS
# The road and decoding alone run in processes of their own, so that each one's page faults are its own.
run decode window_bench '^BM_DecodeSameBytesOnly' "$reps"
run road window_bench '^BM_StopProfitTabToFirstPaint' "$reps"
run refresh window_bench '^BM_StopProfitKeyToPaint' "$slow_reps"
run reader bench_protocol_decode '^BM_MemchrEverySeparator$|^BM_DecodeWithReader$' "$reps"
run server bench_server_rules \
  '^BM_Handler16477/|^BM_DecodeHandlerReply/|^BM_Handler16477Teller/|^BM_RawClient16477/|^BM_RawClient16477First/1/' \
  "$slow_reps"
run changes bench_server_changes '^BM_Full16477/|^BM_Changes100/|^BM_ChangesNothing/' "$slow_reps"

echo
printf '%-16s %10s %-4s  %-17s %-6s  %s\n' figure measured "" "" "" "what (medians of $reps runs, $slow_reps for the slow ones)"
road=$(median road BM_StopProfitTabToFirstPaint/100000/real_time)
decode=$(median decode BM_DecodeSameBytesOnly/100000/real_time)
check road "$(ratio "$road" "$decode")" "x" "tab key to first paint ${road} ms / decoding the same bytes ${decode} ms"
road_faults=$(faults road)
decode_faults=$(faults decode)
per_query=$(median road BM_StopProfitTabToFirstPaint/100000/real_time minor_faults)
check road-faults "$(ratio "$road_faults" "$decode_faults")" "x" \
  "minor page faults of the road's run ${road_faults} / decoding's ${decode_faults} (${per_query} a query)"
peak=$(median refresh BM_StopProfitKeyToPaint/100040/real_time refresh_peak_MiB)
check refresh-peak "$peak" "MiB" "F2 on 100,040 rows: the refresh's peak over the size before it"
after=$(median refresh BM_StopProfitKeyToPaint/100040/real_time rss_growth_MiB)
check refresh-after "$after" "MiB" "F2 on 100,040 rows: the size after the idle time over the size before"
with_reader=$(median reader BM_DecodeWithReader)
floor=$(median reader BM_MemchrEverySeparator)
check reader "$(ratio "$with_reader" "$floor")" "x" "frame reader ${with_reader} ms / memchr of every separator ${floor} ms"
handler=$(median server BM_Handler16477/min_time:2.000)
client_decode=$(median server BM_DecodeHandlerReply/min_time:2.000)
check server "$(ratio "$handler" "$client_decode")" "x" "server's 16477 handler ${handler} ms / the client decoding its reply ${client_decode} ms"
teller=$(median server BM_Handler16477Teller/min_time:2.000)
check teller "$(percent "$teller" "$handler")" "%" "the teller's 16477 ${teller} ms / admin's ${handler} ms"
first=$(median server BM_RawClient16477First/1/iterations:8/real_time)
warm=$(median server BM_RawClient16477/min_time:2.000/real_time)
check first-query "$(ratio "$first" "$warm")" "x" "a started server's first 16477 after its warm-up ${first} ms / a warm one ${warm} ms"
full=$(median changes BM_Full16477/min_time:2.000)
changed=$(median changes BM_Changes100/min_time:1.000)
check changes "$(percent "$changed" "$full")" "%" "changes since a revision, 100 rows written ${changed} ms / the full reply ${full} ms"
nothing_us=$(median changes BM_ChangesNothing/min_time:1.000) # the benchmark reports microseconds
check changes-nothing "$(awk -v us="$nothing_us" 'BEGIN { printf "%.3f", us / 1000 }')" "ms" \
  "changes since a revision when nothing was written"

echo
echo "bench-check: $((SECONDS - started)) s, load average $(cut -d' ' -f1-3 /proc/loadavg) (timings need a quiet machine)"
if ((missed)); then
  echo "bench-check: a figure missed its target" >&2
  exit 1
fi
echo "bench-check: every figure within its target"
