#!/usr/bin/env bash
# Runs the built agent on a display server of its own and checks what a
# desktop session would see:
#   display-loss  the X server goes away under a running agent: one log line
#                 says so and the agent ends with a non-zero status, so that
#                 the systemd unit (Restart=on-failure) brings it back.
#   wayland       under headless weston with XWayland the agent runs on xcb,
#                 and a second launch opens the quick note panel.
#   SessionTests.sh MODE AGENT
set -uo pipefail
mode=$1 agent=$2
log=/tmp/tavlopopup.log
work=$(mktemp -d /tmp/tavlo-session.XXXXXX)
pids=()
cleanup() {
  # SIGTERM: weston and Xvfb remove their display lock and socket only then.
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; for f in "$work"/*.out; do echo "--- $f"; cat "$f"; done; exit 1; }

offset=$(($(stat -c %s "$log" 2>/dev/null || echo 0) + 1))
started=$(date -u '+%Y-%m-%d %H:%M:%S')
# Only lines written since this test began: the log file is shared with every
# agent on the machine. Prints the first matching message.
logged() {
  tail -c +"$offset" "$log" 2>/dev/null | awk -v since="$started" -v line=" +0000: $1" \
    'substr($0, 1, 19) >= since && index($0, line) == 20 { print substr($0, 28); found = 1; exit } END { exit !found }'
}
# Waits up to 20 s for a log line, or for the agent to end.
await_line() {
  for _ in $(seq 400); do
    logged "$1" >/dev/null && return 0
    [ -n "${agent_pid:-}" ] && ! kill -0 "$agent_pid" 2>/dev/null && { logged "$1" >/dev/null; return; }
    sleep 0.05
  done
  return 1
}
mkdir -p "$work/home" "$work/run" && chmod 700 "$work/run"
run_agent() {
  HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share \
    XDG_RUNTIME_DIR=$work/run TAVLO_API_BASE_URL=http://127.0.0.1:9/api "$agent" "$@"
}

case $mode in
display-loss)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.out" 2>&1 &
  xvfb_pid=$!; pids+=("$xvfb_pid")
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  [ -s "$work/display" ] || fail "Xvfb did not start"
  DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb run_agent >"$work/agent.out" 2>&1 &
  agent_pid=$!; pids+=("$agent_pid")
  await_line "App launched" || fail "the agent did not log \"App launched\""
  kill -TERM "$xvfb_pid"
  for _ in $(seq 400); do kill -0 "$agent_pid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$agent_pid" 2>/dev/null && fail "the agent outlived its display by 20 s"
  wait "$agent_pid"; rc=$?
  [ "$rc" -ne 0 ] || fail "the agent ended with status 0 when its display went away"
  line=$(logged "Display connection lost") || fail "no \"Display connection lost\" log line"
  echo "status $rc, logged: $line"
  ;;
wayland)
  command -v weston >/dev/null && command -v Xwayland >/dev/null || { echo "SKIP: weston or Xwayland missing"; exit 77; }
  export XDG_RUNTIME_DIR=$work/run WAYLAND_DISPLAY=tavlo-test-$$
  unset DISPLAY QT_QPA_PLATFORM
  weston --backend=headless-backend.so --xwayland --socket="$WAYLAND_DISPLAY" --idle-time=0 \
    >"$work/weston.out" 2>&1 &
  pids+=("$!")
  for _ in $(seq 200); do grep -q 'xserver listening on display' "$work/weston.out" && break; sleep 0.05; done
  x=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$work/weston.out" | head -n1)
  [ -n "$x" ] || fail "weston did not start XWayland"
  export DISPLAY=$x
  run_agent >"$work/agent.out" 2>&1 &
  agent_pid=$!; pids+=("$agent_pid")
  await_line "App launched" || fail "the agent did not log \"App launched\" under weston"
  line=$(logged "Running on the") || fail "no platform log line"
  [ "$line" = "Running on the xcb platform" ] || fail "under weston with XWayland: $line"
  run_agent >"$work/second.out" 2>&1 || fail "a second launch failed"
  await_line "panel shown at" || fail "a second launch opened no panel"
  shown=$(logged "panel shown at")
  # The frame as the X server has it: the panel's ancestor just below the root.
  w=$(xdotool search --onlyvisible --class tavlopopup | head -n1)
  [ -n "$w" ] || fail "no visible panel window"
  root=$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')
  while parent=$(xwininfo -tree -id "$w" | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p'); \
        [ -n "$parent" ] && [ "$parent" != "$root" ]; do w=$parent; done
  frame=$(xwininfo -id "$w" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /Width:/ {w=$NF} /Height:/ {h=$NF} END {printf "(%d, %d, %d, %d)", x, y, w, h}')
  [ "$shown" = "panel shown at $frame" ] || fail "logged \"$shown\", the frame is at $frame"
  echo "$line; $shown"
  ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
