#!/usr/bin/env bash
# Installs what is missing, builds, starts the local study service with its demo
# account and runs the agent against it. With no X display it brings up Xvfb
# with openbox and a tray host (screenshots: `DISPLAY=:42 import -window root x.png`).
# With no D-Bus session it starts one with an unlocked keyring for the agent.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
port=${TAVLO_SERVICE_PORT:-8787}
build="$here/build"

if [ -z "${TAVLO_RUN_INNER:-}" ]; then
  "$here/scripts/deps.sh"
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DTAVLO_API_BASE_URL="http://127.0.0.1:$port/api" -DTAVLO_BUILD_TESTS=OFF -DTAVLO_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" --target tavlopopup tavlo-study-service
  export TAVLO_RUN_INNER=1
  if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    exec dbus-run-session -- "$0" "$@"
  fi
fi

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT INT TERM

# A Secret Service for the token and credentials, when the session has none.
if ! busctl --user status org.freedesktop.secrets >/dev/null 2>&1 && \
   ! dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q true; then
  export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}; chmod 700 "$XDG_RUNTIME_DIR"
  eval "$(printf 'tavlo' | gnome-keyring-daemon --unlock --components=secrets)"
  [ -n "${GNOME_KEYRING_PID:-}" ] && pids+=("$GNOME_KEYRING_PID")
fi

data_dir="${XDG_DATA_HOME:-$HOME/.local/share}/tavlo-study-service"
mkdir -p "$data_dir"
if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  "$build/service/tavlo-study-service" --port "$port" --db "$data_dir/study.sqlite" &
  pids+=("$!")
  for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export DISPLAY=:42
  Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 & pids+=("$!")
  sleep 1
  openbox >/dev/null 2>&1 & pids+=("$!")
  trayer --edge bottom --align right --widthtype pixel --width 200 --height 32 >/dev/null 2>&1 & pids+=("$!")
  sleep 1
  echo "No display found: the agent runs on Xvfb $DISPLAY (screenshot: DISPLAY=$DISPLAY import -window root shot.png)"
fi

cat <<MSG
Study service: http://127.0.0.1:$port/api
Sign in from the tray menu with the demo account: demo@tavlo.app / tavlo-demo
Diagnostic log: /tmp/tavlopopup.log   (Ctrl+C stops the agent and the service)
MSG
TAVLO_API_BASE_URL="http://127.0.0.1:$port/api" "$build/app/tavlopopup" "$@"
