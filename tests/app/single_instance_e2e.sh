#!/usr/bin/env bash
# The real program on an X display without a tray, with a private D-Bus session bus:
# the command line's exit codes (without a display too), one instance per folder, hand-over of
# each request, --quit, a start after SIGKILL, --settings with none running, the demo's title,
# and the one notice each about the missing tray and the missing account.
#   single_instance_e2e.sh FERROWICK WORK_DIR
set -euo pipefail
exe=$1 work=$2
for tool in Xvfb xdotool dbus-daemon dbus-monitor; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is missing"; exit 77; }
done

rm -rf "$work"; mkdir -p "$work/prog" "$work/runtime"
chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime" LC_ALL=C.UTF-8
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY
pids=()
app=""
cleanup() {
  [ -n "$app" ] && kill -9 "$app" 2>/dev/null || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -n "${DBUS_SESSION_BUS_PID:-}" ] && kill "$DBUS_SESSION_BUS_PID" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for f in "$work"/*.log; do echo "--- $f"; cat "$f"; done
  exit 1
}

# ---- the command line alone: no display needed ---------------------------------------
expect_exit() { # code, what, args... (DISPLAY may be given in the environment)
  local want=$1 what=$2 rc=0; shift 2
  DISPLAY=${DISPLAY:-} WAYLAND_DISPLAY= "$exe" "$@" >"$work/out.txt" 2>"$work/err.txt" || rc=$?
  [ "$rc" -eq "$want" ] || fail "$what: exit $rc, expected $want ($(cat "$work/err.txt"))"
}
expect_exit 0 "--help" --help
grep -q '^Usage: ferrowick' "$work/out.txt" || fail "--help prints no usage"
expect_exit 0 "--version" --version
grep -qx 'ferrowick [0-9]*\.[0-9]*\.[0-9]*' "$work/out.txt" || fail "--version prints '$(cat "$work/out.txt")'"
expect_exit 2 "an unknown option" --frobnicate
grep -q 'frobnicate' "$work/err.txt" && grep -q '^Usage: ferrowick' "$work/err.txt" || fail "no usage for an unknown option"
expect_exit 2 "a missing folder" --folder "$work/nowhere"
expect_exit 1 "--quit with none running" --quit --folder "$work/prog"
[ "$(wc -l <"$work/err.txt")" -eq 1 ] && grep -q 'no instance is running' "$work/err.txt" || fail "--quit with none running says '$(cat "$work/err.txt")'"
# No display to run on, or one that cannot be opened: one line, exit 1, no lock left behind.
for display in "" ":4095"; do
  DISPLAY=$display expect_exit 1 "a start on display '$display'" --folder "$work/prog"
  [ "$(wc -l <"$work/err.txt")" -eq 1 ] && grep -q "^ferrowick: .*display.*desktop session" "$work/err.txt" ||
    fail "a start on display '$display' says '$(cat "$work/err.txt")'"
  [ ! -e "$work/prog/maildata/ferrowick.lock" ] || fail "a start on display '$display' left its lock"
done

# ---- a display without a tray, and a session bus that records notifications ----------
display=:$((200 + RANDOM % 50))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 1 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 | { read -r a; read -r p; echo "export DBUS_SESSION_BUS_ADDRESS='$a' DBUS_SESSION_BUS_PID=$p"; })"
dbus-monitor "type='method_call',interface='org.freedesktop.Notifications'" >"$work/notifications.log" 2>&1 &
pids+=($!)
sleep 0.3

visible() { xdotool search --onlyvisible --pid "$1" 2>/dev/null | wc -l; }
start_first() { # log name, args...: starts an instance and waits until it listens
  local log=$1 lock="$work/prog/maildata/ferrowick.lock"; shift
  "$exe" --folder "$work/prog" "$@" >"$work/$log.log" 2>&1 &
  app=$!
  # Its lock names it, and its socket is newer than the lock (a killed one leaves an older socket).
  for _ in $(seq 1 100); do
    if [ "$(head -n 1 "$lock" 2>/dev/null)" = "$app" ] && [ -S "$(socket_path)" ] &&
      [ -n "$(find "$(socket_path)" -newer "$lock" 2>/dev/null)" ]; then
      return 0
    fi
    sleep 0.1
  done
  fail "the instance started for $log never listened"
}
socket_path() { ls "$XDG_RUNTIME_DIR"/ferrowick-"$(id -u)"-* 2>/dev/null | head -1; }
later() { # expected line pattern, args...: a later start hands over, exits 0 with one line
  local pattern=$1 rc=0; shift
  timeout 40 "$exe" --folder "$work/prog" "$@" >"$work/later.txt" 2>"$work/later-err.txt" || rc=$?
  [ "$rc" -eq 0 ] || fail "a later start with '$*' exited $rc: $(cat "$work/later-err.txt")"
  [ "$(wc -l <"$work/later.txt")" -eq 1 ] || fail "a later start with '$*' printed: $(cat "$work/later.txt")"
  grep -q "$pattern" "$work/later.txt" || fail "a later start with '$*' said: $(cat "$work/later.txt")"
}
wait_windows() { # pid, count
  for _ in $(seq 1 50); do [ "$(visible "$1")" -ge "$2" ] && return 0; sleep 0.1; done
  fail "process $1 shows $(visible "$1") windows, expected $2"
}

start_first first
first=$app
[ "$(visible "$first")" -eq 0 ] || fail "the post box shows before anything asked for it"
later "showed its post box"
wait_windows "$first" 1
kill -0 "$first" || fail "the first instance ended"
later "checks for mail now" --check
later "opened its settings" --settings
wait_windows "$first" 2
# A second request for the settings raises the open dialog instead of stacking another.
later "opened its settings" --settings
sleep 0.5
[ "$(visible "$first")" -eq 2 ] || fail "a second settings request opened another dialog"

# The missing tray: one line on the terminal, one desktop notification.
for _ in $(seq 1 100); do grep -q 'no notification area' "$work/first.log" && break; sleep 0.1; done
[ "$(grep -c 'no notification area' "$work/first.log")" -eq 1 ] || fail "the missing tray was not reported exactly once"
# No account is configured either: one more notice says how to add one.
[ "$(grep -c 'member=Notify' "$work/notifications.log")" -eq 2 ] &&
  [ "$(grep -c '通知領域がないため' "$work/notifications.log")" -eq 1 ] &&
  [ "$(grep -c 'アカウントが設定されていません' "$work/notifications.log")" -eq 1 ] ||
  fail "expected one desktop notification about the missing tray and one about the missing account"

later "has ended" --quit
rc=0; wait "$first" || rc=$?
app=""
[ "$rc" -eq 0 ] || fail "the first instance exited $rc after --quit"
[ ! -e "$work/prog/maildata/ferrowick.lock" ] || fail "the lock outlived the instance"
expect_exit 1 "--quit once it has ended" --quit --folder "$work/prog"

# A killed instance leaves its lock and socket behind; the next start takes both over.
start_first killed
kill -9 "$app"; wait "$app" 2>/dev/null || true
app=""
[ -e "$work/prog/maildata/ferrowick.lock" ] || fail "SIGKILL left no lock to take over"
start_first after-kill
survivor=$app
later "showed its post box"
wait_windows "$survivor" 1
later "has ended" --quit
wait "$survivor" || fail "the instance started after SIGKILL did not end cleanly"
app=""

# --settings with none running starts one with the dialog open; the demo names itself.
start_first demo --demo --settings
wait_windows "$app" 1
titles=$(for w in $(xdotool search --onlyvisible --pid "$app"); do xdotool getwindowname "$w"; done)
grep -q 'Ferrowick（デモ）' <<<"$titles" || fail "the demo's dialog is titled: $titles"
later "has ended" --quit
wait "$app" || true
app=""
# A folder whose lock cannot be written (not even by root: nothing is created under /proc):
# the program says so once and runs anyway.
"$exe" --folder /proc >"$work/unguarded.log" 2>&1 &
app=$!
sleep 2
kill -0 "$app" 2>/dev/null || fail "the program did not run without its lock"
kill "$app"; wait "$app" 2>/dev/null || true
app=""
[ "$(grep -c 'cannot lock' "$work/unguarded.log")" -eq 1 ] || fail "the unwritable lock was not reported exactly once"
[ "$(grep -c '^ferrowick: .*lock' "$work/unguarded.log")" -eq 1 ] || fail "more than one line about the lock"

echo "single instance e2e: hand-over, --quit, SIGKILL take-over, --settings and the missing-tray notice all work"
