#!/usr/bin/env bash
# Measures the agent's resource figures by hand (not part of CI) on a Release
# build, in a private session (D-Bus, unlocked keyring, its own Xvfb with
# openbox and trayer, a local study service):
#   1. start to tray icon: the agent against bench/minimal_tray, both started
#      by bench/tray_watch, which times fork to icon embedded; median of N runs;
#   2. resident memory across 100 and 200 popups and the wake-ups 30 s after
#      them, for the Japanese and the German deck (bench/bench_resources, the
#      real agent objects on the same display);
#   3. the real agent idle and not signed in: VmRSS after start, and its
#      wake-ups (context switches) and CPU time over 60 s.
#   scripts/measure-resources.sh [build-dir]     (default: build-release)
# TAVLO_MEASURE_RUNS (15) and TAVLO_MEASURE_IDLE_SECONDS (60) change the counts.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build-release}")
runs=${TAVLO_MEASURE_RUNS:-15}
idle=${TAVLO_MEASURE_IDLE_SECONDS:-60}

if [ -z "${TAVLO_MEASURE_INNER:-}" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target tavlopopup tavlo-study-service bench_resources minimal_tray tray_watch
  export TAVLO_MEASURE_INNER=1 TAVLO_TEST_X=0
  exec "$here/scripts/test-env.sh" "$0" "$build"
fi

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

median() { sort -n | awk '{a[NR]=$1} END {if (NR == 0) print "n/a"; else if (NR % 2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
# Proportional set size and private anonymous memory, in kB.
pss() { awk '/^Pss:/ {p = $2} /^Pss_Anon:/ {a = $2} END {print "PSS " p " kB (anonymous " a " kB)"}' "/proc/$1/smaps_rollup"; }
# "thread-id switches" per thread: voluntary plus involuntary context switches.
switches() { for t in /proc/"$1"/task/*; do echo "${t##*/} $(awk '/ctxt_switches:/ {s += $2} END {print s + 0}' "$t/status" 2>/dev/null)"; done | sort; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

export DISPLAY=":$((200 + RANDOM % 50))"
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 & pids+=("$!")
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
openbox >/dev/null 2>&1 & pids+=("$!")
trayer --edge bottom --align right --widthtype pixel --width 200 --height 32 >/dev/null 2>&1 & pids+=("$!")
sleep 1

out=$(mktemp)
"$build/service/tavlo-study-service" --port 0 --quiet >"$out" & pids+=("$!")
for _ in $(seq 50); do grep -q 'http://' "$out" && break; sleep 0.1; done
export TAVLO_API_BASE_URL=$(grep -o 'http://[^ ]*' "$out")
export TAVLO_SERVICE_BIN="$build/service/tavlo-study-service"

echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Display $DISPLAY (Xvfb, openbox, trayer); study service $TAVLO_API_BASE_URL"

# 1. Start to tray icon, the two programs taking turns.
agent_ms=(); minimal_ms=()
for _ in $(seq "$runs"); do
  agent_ms+=("$("$build/bench/tray_watch" tavlopopup 15000 "$build/app/tavlopopup")")
  minimal_ms+=("$("$build/bench/tray_watch" minimal_tray 15000 "$build/bench/minimal_tray")")
done
a=$(printf '%s\n' "${agent_ms[@]}" | median)
m=$(printf '%s\n' "${minimal_ms[@]}" | median)
echo "Start to tray icon (median of $runs): agent $a ms, minimal Qt tray $m ms, ratio $(awk -v a="$a" -v m="$m" 'BEGIN {printf "%.2f", a / m}')"

# 2. Memory across popups.
echo "Japanese deck (demo account):"
"$build/bench/bench_resources" --benchmark_format=console 2>&1 | grep -E '^VmRSS|^after|^Idle|error' || true
echo "German deck (second account):"
TAVLO_BENCH_ACCOUNT=second "$build/bench/bench_resources" --benchmark_format=console 2>&1 | grep -E '^VmRSS|^after|^Idle|error' || true

# 3. The real agent, idle and signed out (its first popup would come after 300 s).
"$build/bench/minimal_tray" >/dev/null 2>&1 & mpid=$!; pids+=("$mpid")
"$build/app/tavlopopup" >/dev/null 2>&1 & apid=$!; pids+=("$apid")
sleep 5
echo "Idle VmRSS 5 s after start: agent $(( $(rss_kb "$apid") / 1024 )).$(( $(rss_kb "$apid") % 1024 * 10 / 1024 )) MB, minimal Qt tray $(( $(rss_kb "$mpid") / 1024 )).$(( $(rss_kb "$mpid") % 1024 * 10 / 1024 )) MB; agent threads: $(ls /proc/"$apid"/task | wc -l)"
echo "  agent $(pss "$apid"); minimal Qt tray $(pss "$mpid")"
kill "$mpid"
s0=$(switches "$apid"); t0=$(cpu_ticks "$apid")
if perf stat -e context-switches -- true >/dev/null 2>&1; then
  perf stat -x, -e context-switches,cpu-clock -p "$apid" -- sleep "$idle" 2>&1 | awk -F, -v s="$idle" 'NF > 2 {print "perf over " s " s: " $3 " " $1 " " $2}'
else
  sleep "$idle"
fi
s1=$(switches "$apid"); t1=$(cpu_ticks "$apid")
woke=$(join <(echo "$s0") <(echo "$s1") | awk '{d += $3 - $2} END {print d + 0}')
ended=$(join -v1 <(echo "$s0") <(echo "$s1") | wc -l)
echo "Idle for $idle s: $woke context switches in the threads that lived throughout ($ended threads ended meanwhile), $((t1 - t0)) clock ticks of CPU (1 tick = 1/$(getconf CLK_TCK) s), VmRSS $(( $(rss_kb "$apid") / 1024 )) MB"
for t in /proc/"$apid"/task/*; do echo "  thread $(cat "$t/comm"): $(awk '/ctxt_switches:/ {s += $2} END {print s}' "$t/status") switches since start"; done
rm -f "$out"
