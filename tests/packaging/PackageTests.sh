#!/usr/bin/env bash
# Builds the Debian packages from the finished build, unpacks them into a
# scratch root and checks what a user would get: the files, the launcher and
# autostart entries, the systemd user unit, the dependencies, and that the
# installed agent starts, logs "App launched" and exits cleanly on SIGTERM.
#   PackageTests.sh CPACK CPACK_CONFIG
set -uo pipefail
cpack=$1 config=$2
log=/tmp/tavlopopup.log
work=$(mktemp -d /tmp/tavlo-package.XXXXXX)
agent_pid=
cleanup() {
  [ -n "$agent_pid" ] && kill -KILL "$agent_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" >/dev/null 2>&1 || fail "$what"; }

if ! "$cpack" --config "$config" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1
fi
agent_deb=$(ls "$work"/out/tavlopopup_*.deb 2>/dev/null | head -n1)
service_deb=$(ls "$work"/out/tavlopopup-study-service_*.deb 2>/dev/null | head -n1)
[ -n "$agent_deb" ] || { ls -R "$work/out"; echo "FAIL: no tavlopopup_*.deb"; exit 1; }
[ -n "$service_deb" ] || fail "no tavlopopup-study-service_*.deb"

root=$work/root
dpkg-deb -x "$agent_deb" "$root" || { echo "FAIL: dpkg-deb -x"; exit 1; }

# Files.
check "agent binary" test -x "$root/usr/bin/tavlopopup"
check "study service is not in the agent package" test ! -e "$root/usr/bin/tavlo-study-service"
check "scalable icon" grep -q "<svg" "$root/usr/share/icons/hicolor/scalable/apps/tavlopopup.svg"
for size in 16 22 24 32 48 64 128; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/tavlopopup.png"
  if [ "$(head -c 8 "$png" 2>/dev/null | od -An -tx1 | tr -d ' \n')" != 89504e470d0a1a0a ]; then
    fail "PNG icon ${size}x${size}"
  elif [ "$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')" != "${size}x${size}" ]; then
    fail "PNG icon ${size}x${size} has the wrong size"
  fi
done

# Launcher and autostart entries.
launcher=$root/usr/share/applications/tavlopopup.desktop
autostart=$root/etc/xdg/autostart/tavlopopup.desktop
key() { sed -n "s/^$2=//p" "$1" | head -n1; }
for entry in "$launcher" "$autostart"; do
  name=${entry#"$root"}
  [ -f "$entry" ] || { fail "$name missing"; continue; }
  if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$entry" 2>&1) || fail "$name does not validate: $out"
  fi
  [ "$(key "$entry" Exec)" = tavlopopup ] || fail "$name: Exec is not tavlopopup"
  [ "$(key "$entry" Icon)" = tavlopopup ] || fail "$name: Icon is not tavlopopup"
  [ "$(key "$entry" Type)" = Application ] || fail "$name: Type is not Application"
  grep -q '^NoDisplay=true' "$entry" && fail "$name hides itself from the launcher"
  grep -q '^Hidden=true' "$entry" && fail "$name is hidden"
  case ";$(key "$entry" Categories)" in *";Education;"*) ;; *) fail "$name: not in Education" ;; esac
done
[ "$(key "$autostart" X-GNOME-Autostart-enabled)" = true ] || fail "autostart: X-GNOME-Autostart-enabled"
[[ "$(key "$autostart" X-GNOME-Autostart-Delay)" =~ ^[1-9][0-9]*$ ]] || fail "autostart: X-GNOME-Autostart-Delay"
[ "$(key "$autostart" X-KDE-autostart-after)" = panel ] || fail "autostart: X-KDE-autostart-after"
[ "$(key "$autostart" X-LXQt-Need-Tray)" = true ] || fail "autostart: X-LXQt-Need-Tray"

# The systemd user unit, wanted by every graphical session that systemd
# manages, where the autostart entry steps aside.
unit=$root/usr/lib/systemd/user/tavlopopup.service
[ -f "$unit" ] || fail "user unit missing"
[ "$(readlink "$root/usr/lib/systemd/user/graphical-session.target.wants/tavlopopup.service")" = ../tavlopopup.service ] ||
  fail "the unit is not wanted by graphical-session.target"
for pair in ExecStart=/usr/bin/tavlopopup Restart=on-failure PartOf=graphical-session.target \
            After=graphical-session.target WantedBy=graphical-session.target; do
  [ "$(key "$unit" "${pair%%=*}")" = "${pair#*=}" ] || fail "unit: not $pair"
done
for pair in X-systemd-skip=true X-GNOME-HiddenUnderSystemd=true; do
  [ "$(key "$autostart" "${pair%%=*}")" = "${pair#*=}" ] || fail "autostart: not $pair"
done
# systemd-analyze cannot verify a user unit under another root: a copy that
# starts the unpacked agent is verified; any complaint (an unknown key, a bad
# value) fails, as systemd only ignores those.
if command -v systemd-analyze >/dev/null; then
  mkdir -p "$work/unit" "$work/unit-run" && chmod 700 "$work/unit-run"
  sed "s#=/usr/bin/#=$root/usr/bin/#" "$unit" >"$work/unit/tavlopopup.service"
  out=$(XDG_RUNTIME_DIR=$work/unit-run systemd-analyze --user --man=no verify "$work/unit/tavlopopup.service" 2>&1)
  [ $? -eq 0 ] && [ -z "$out" ] || fail "the unit does not verify: $out"
fi

# Package relations.
depends=$(dpkg-deb -f "$agent_deb" Depends)
for lib in libqt6widgets6 libqt6network6 libqt6dbus6 libsecret-1-0 libcanberra0; do
  [[ ", $depends," == *", $lib "* || ", $depends," == *", $lib,"* ]] || fail "Depends lacks $lib: $depends"
done
recommends=$(dpkg-deb -f "$agent_deb" Recommends)
for pkg in espeak-ng sound-theme-freedesktop fonts-dejavu-core fonts-wqy-microhei qt6-translations-l10n; do
  [[ "$recommends" == *"$pkg"* ]] || fail "Recommends lacks $pkg: $recommends"
done
if [ -n "$service_deb" ]; then
  # Listed once: grep -q closing the pipe early would fail dpkg-deb under pipefail.
  contents=$(dpkg-deb -c "$service_deb")
  grep -q '\./usr/bin/tavlo-study-service$' <<<"$contents" || fail "service package lacks its binary"
  grep -q '\./usr/bin/tavlopopup$' <<<"$contents" && fail "service package carries the agent"
  [[ "$(dpkg-deb -f "$service_deb" Depends)" == *libqt6sql6-sqlite* ]] || fail "service Depends lacks libqt6sql6-sqlite"
  # Its user unit: installed, not enabled, on 127.0.0.1 with the database under ~/.local/share.
  sroot=$work/service-root
  dpkg-deb -x "$service_deb" "$sroot" || fail "dpkg-deb -x service"
  sunit=$sroot/usr/lib/systemd/user/tavlo-study-service.service
  [ -f "$sunit" ] || fail "service user unit missing"
  [[ "$(key "$sunit" ExecStart)" == "/usr/bin/tavlo-study-service "*"--db %h/.local/share/tavlo-study-service/"* ]] ||
    fail "service unit: ExecStart $(key "$sunit" ExecStart)"
  [ "$(key "$sunit" WantedBy)" = default.target ] || fail "service unit: not WantedBy=default.target"
  [ -z "$(ls "$sroot"/usr/lib/systemd/user/*.wants 2>/dev/null)" ] || fail "service unit is enabled by the package"
  if command -v systemd-analyze >/dev/null; then
    mkdir -p "$work/sunit" "$work/sunit-run" && chmod 700 "$work/sunit-run"
    sed "s#=/usr/bin/#=$sroot/usr/bin/#" "$sunit" >"$work/sunit/tavlo-study-service.service"
    out=$(XDG_RUNTIME_DIR=$work/sunit-run systemd-analyze --user --man=no verify "$work/sunit/tavlo-study-service.service" 2>&1)
    [ $? -eq 0 ] && [ -z "$out" ] || fail "the service unit does not verify: $out"
  fi
fi

# The installed agent starts and quits in order. It gets a HOME and a display
# of its own (one agent per user and display: no running agent to hand over
# to; offscreen, nothing connects to it), and a study service address nobody
# answers on: nothing here needs the network.
mkdir -p "$work/home" "$work/run" && chmod 700 "$work/run"
offset=$(($(stat -c %s "$log" 2>/dev/null || echo 0) + 1))
started=$(date -u '+%Y-%m-%d %H:%M:%S')
HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share \
  XDG_RUNTIME_DIR=$work/run DISPLAY=":$$" QT_QPA_PLATFORM=offscreen TAVLO_API_BASE_URL=http://127.0.0.1:9/api \
  "$root/usr/bin/tavlopopup" >"$work/agent.out" 2>&1 &
agent_pid=$!
# Only lines written since this test began, by their time stamp too, since
# the log file is shared with every agent on the machine.
logged() {
  tail -c +"$offset" "$log" 2>/dev/null | awk -v since="$started" -v line=" +0000: $1" \
    'substr($0, 1, 19) >= since && index($0, line) == 20 { found = 1 } END { exit !found }'
}
launched=
for _ in $(seq 200); do
  logged "App launched" && { launched=1; break; }
  kill -0 "$agent_pid" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$launched" ]; then
  fail "the installed agent did not log \"App launched\""; cat "$work/agent.out"
fi
# The sound library is opened when first needed; an agent
# that is just waiting for its first card keeps it out of memory.
if [ -n "$launched" ] && [ -r "/proc/$agent_pid/maps" ]; then
  for lib in libcanberra; do
    grep -q "/$lib\.so" "/proc/$agent_pid/maps" && fail "the idle agent has $lib loaded"
  done
fi
# A second launch on the same display from a shell with another runtime dir
# hands over to the running agent, which opens the quick note, and ends.
if [ -n "$launched" ]; then
  mkdir -p "$work/run2" && chmod 700 "$work/run2"
  HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share \
    XDG_RUNTIME_DIR=$work/run2 DISPLAY=":$$" QT_QPA_PLATFORM=offscreen TAVLO_API_BASE_URL=http://127.0.0.1:9/api \
    timeout 30 "$root/usr/bin/tavlopopup" >"$work/second.out" 2>&1
  rc=$?
  [ "$rc" -eq 0 ] || { fail "a second launch ended with status $rc"; cat "$work/second.out"; }
  handed=
  for _ in $(seq 200); do logged "A later launch asked for the quick note" && { handed=1; break; }; sleep 0.05; done
  [ -n "$handed" ] || fail "the running agent did not open the quick note for a second launch"
fi
if kill -TERM "$agent_pid" 2>/dev/null; then
  for _ in $(seq 100); do kill -0 "$agent_pid" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$agent_pid" 2>/dev/null; then
    fail "the agent ignored SIGTERM"
  else
    wait "$agent_pid"; rc=$?
    [ "$rc" -eq 0 ] || { fail "the agent ended with status $rc on SIGTERM, not by quitting"; cat "$work/agent.out"; }
  fi
else
  fail "the agent was gone before SIGTERM"; cat "$work/agent.out"
fi
agent_pid=

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "packages OK: $(basename "$agent_deb") $(basename "${service_deb:-none}")"
