#!/usr/bin/env bash
# Runs a command inside a private test session: its own D-Bus session bus, an
# unlocked gnome-keyring (the Secret Service, no prompt), a private HOME and
# XDG dirs, and an Xvfb display for the tests that want a real X server.
# Everything is stopped again when the command ends.
#   scripts/test-env.sh ctest --test-dir build
set -euo pipefail
if [ -z "${TAVLO_IN_TEST_SESSION:-}" ]; then
  export TAVLO_IN_TEST_SESSION=1
  exec dbus-run-session -- "$0" "$@"
fi
root=$(mktemp -d /tmp/tavlo-test.XXXXXX)
cleanup() {
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -n "${wm_pid:-}" ] && kill "$wm_pid" 2>/dev/null || true
  [ -n "${tray_pid:-}" ] && kill "$tray_pid" 2>/dev/null || true
  [ -n "${GNOME_KEYRING_PID:-}" ] && kill "$GNOME_KEYRING_PID" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
export HOME="$root/home" XDG_RUNTIME_DIR="$root/run" XDG_CONFIG_HOME="$root/home/.config" XDG_DATA_HOME="$root/home/.local/share"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
eval "$(printf 'test' | gnome-keyring-daemon --unlock --components=secrets)"
export GNOME_KEYRING_CONTROL GNOME_KEYRING_PID
if [ "${TAVLO_TEST_X:-1}" = 1 ] && command -v Xvfb >/dev/null; then
  # Xvfb picks a free display itself: sessions of other users of the machine
  # run at the same time, and a taken display would be theirs, tray included.
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$root/display" >/dev/null 2>&1 & xvfb_pid=$!
  for _ in $(seq 50); do [ -s "$root/display" ] && break; sleep 0.1; done
  [ -s "$root/display" ] && export TAVLO_TEST_DISPLAY=":$(head -n1 "$root/display")"
fi
"$@"
