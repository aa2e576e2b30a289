#!/usr/bin/env bash
# The tray icon through D-Bus (StatusNotifierItem), the way KDE Plasma and GNOME with the
# AppIndicator extension show it: with a watcher on a private session bus and no X tray, the
# icon registers with its pictures and the full menu, carries the notice that no account is
# configured, and the menu's 終了 ends the program.
#   sni_tray_e2e.sh FERROWICK SNI_WATCHER WORK_DIR
set -euo pipefail
exe=$1 watcher=$2 work=$3
for tool in Xvfb xdotool dbus-daemon gdbus; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is missing"; exit 77; }
done
rm -rf "$work"; mkdir -p "$work/prog" "$work/runtime"
chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime" LC_ALL=C.UTF-8
unset QT_QPA_PLATFORM XDG_CURRENT_DESKTOP
pids=()
cleanup() {
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

display=:$((250 + RANDOM % 50))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 1 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 | { read -r a; read -r p; echo "export DBUS_SESSION_BUS_ADDRESS='$a' DBUS_SESSION_BUS_PID=$p"; })"
"$watcher" >"$work/watcher.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do grep -q 'watcher ready' "$work/watcher.log" && break; sleep 0.1; done

"$exe" --folder "$work/prog" >"$work/ferrowick.log" 2>&1 &
app=$!
pids+=($app)
for _ in $(seq 1 100); do grep -q '^item ' "$work/watcher.log" && break; sleep 0.1; done
item=$(awk '/^item /{print $2; exit}' "$work/watcher.log")
[ -n "$item" ] || fail "no StatusNotifierItem registered"

item_props() {
  gdbus call --session --dest "$item" --object-path /StatusNotifierItem \
    --method org.freedesktop.DBus.Properties.GetAll org.kde.StatusNotifierItem
}
wait_status() { # status, tenths of a second; leaves the last answer in $props
  for _ in $(seq 1 "$2"); do
    props=$(item_props)
    grep -q "'Status': <'$1'>" <<<"$props" && return 0
    sleep 0.1
  done
  return 1
}
# No account is configured: the notice that says so holds the item's attention for a while.
wait_status NeedsAttention 50 && grep -q "アカウントが設定されていません" <<<"$props" ||
  fail "the item does not carry the no-account notice: $props"
wait_status Active 150 || fail "the item is not active: $props"
grep -q "'IconPixmap': <\[(32, 32, " <<<"$props" || fail "the item has no 32x32 picture"
# The title is the program's name, with the accounts' state on the lines below it.
grep -qE "'ToolTip': <\('', @a\(iiay\) \[\], 'Ferrowick(\\\\n[^']*)?'" <<<"$props" || fail "the tooltip does not name Ferrowick"
menu=$(sed -n "s/.*'Menu': <objectpath '\([^']*\)'>.*/\1/p" <<<"$props")
[ -n "$menu" ] || fail "the item has no menu"
layout=$(gdbus call --session --dest "$item" --object-path "$menu" --method com.canonical.dbusmenu.GetLayout -- 0 -1 '[]')
for label in メール起動 プロパティ 最新メール受信 開く 終了; do
  grep -q "'label': <'$label'>" <<<"$layout" || fail "the menu lacks $label: $layout"
done

# The tray exists, so no notice about a missing one (its grace is 5 seconds).
sleep 6
grep -q 'no notification area' "$work/ferrowick.log" && fail "reported a missing tray although one is there"

# Choosing 終了 in the desktop's menu ends the program.
quit_id=$(grep -o "<([0-9]*, {[^}]*'label': <'終了'>" <<<"$layout" | sed 's/<(\([0-9]*\),.*/\1/')
[ -n "$quit_id" ] || fail "cannot find 終了's id in: $layout"
gdbus call --session --dest "$item" --object-path "$menu" --method com.canonical.dbusmenu.Event -- \
  "$quit_id" clicked '<int32 0>' 0 >/dev/null
for _ in $(seq 1 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "終了 from the D-Bus menu did not end the program"
rc=0; wait "$app" || rc=$?
[ "$rc" -eq 0 ] || fail "ferrowick exited $rc after 終了"
echo "sni e2e: item $item with its pictures and five menu entries; 終了 through D-Bus ends the program"
