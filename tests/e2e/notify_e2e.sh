#!/usr/bin/env bash
# The notifier, the stack and the detail window on a real X desktop (Xvfb, openbox, trayer),
# with the program checking a dovecot POP3 mailbox that holds one Japanese mail.
#   notify_e2e.sh FERROWICK CLIPBOARD_TOOL SOURCE_DIR SHOT_DIR
set -euo pipefail
exe=$1 clip=$2 src=$3 shots=$4
fixture="$src/tests/fixtures/dovecot-fixture"
for tool in Xvfb openbox trayer xdotool import convert dovecot; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is missing"; exit 77; }
done

work=$(mktemp -d)
chmod 755 "$work" # dovecot drops privileges and must reach its state folder
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  "$fixture" stop "$work/dovecot" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  cat "$work/ferrowick.log" 2>/dev/null || true
  tail -5 "$work/dovecot/dovecot.log" 2>/dev/null || true
  exit 1
}

"$fixture" start "$work/dovecot" >/dev/null
# shellcheck disable=SC1091
. "$work/dovecot/env"

# One mail: ISO-2022-JP subject and body, as Japanese mail usually travels.
subject_b64=$(printf '%s' '会議の件' | iconv -f UTF-8 -t ISO-2022-JP | base64 -w0)
{
  printf 'From: Yamada <yamada@example.jp>\r\nTo: user1@localhost\r\n'
  printf 'Subject: =?ISO-2022-JP?B?%s?=\r\n' "$subject_b64"
  printf 'Date: %s\r\nMessage-ID: <e2e-%s@ferrowick.invalid>\r\nMIME-Version: 1.0\r\n' "$(LC_ALL=C date -R)" "$$"
  printf 'Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n'
  printf '明日の会議は十時からです。\r\nよろしくお願いします。\r\n' | iconv -f UTF-8 -t ISO-2022-JP
} >"$work/mail.eml"
"$fixture" deliver "$work/dovecot" user1 "$work/mail.eml"

# A portable program folder: maildata beside the executable.
mkdir -p "$work/app/maildata/INI"
cp "$exe" "$work/app/ferrowick"
cp "$CA_FILE" "$work/app/maildata/INI/cacert.pem"
cat >"$work/app/maildata/INI/maildata.ini" <<INI
[POP]
POP_SERVER1=pop3s://localhost:$POP3S_PORT
USER1=user1
PASS1=pass1
NAME1=仕事#
[MAIL_REV]
REV_TIMER_MIN=600
UNLOAD_TIMER_SEC=60
[ABOUT_PALAM]
UNLOAD_FLAG=0
INI

display=:$((110 + RANDOM % 80))
Xvfb "$display" -screen 0 1280x1024x24 -br -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
# Every Qt program here (the resident and the clipboard reader) runs on this X server, whatever
# platform or scaling the calling environment asks for.
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_FONT_DPI
for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
trayer --edge bottom --align right --widthtype request --height 24 --SetDockType true --SetPartialStrut true \
  >/dev/null 2>&1 &
pids+=($!)
sleep 1

mkdir -p "$shots"
shot() { import -window root "$shots/$1.png"; }
pixel() { convert "$shots/$1.png" -crop "1x1+$2+$3" +repage -depth 8 -format '%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]' info:; }
asset_pixel() { convert "$src/assets/$1" -crop "1x1+$2+$3" +repage -depth 8 -format '%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]' info:; }
expect_pixel() { # shot x y expected what
  local got; got=$(pixel "$1" "$2" "$3")
  [ "$got" = "$4" ] || fail "$5: pixel $2,$3 is $got, expected $4"
}

shot 0-desktop
desktop=$(pixel 0-desktop 1100 700)

"$work/app/ferrowick" >"$work/ferrowick.log" 2>&1 &
pids+=($!)

# The post box (38x48) is at 1179,895: notifier corner 1147,837 plus the picture's 32,58.
for _ in $(seq 1 60); do
  shot 1-notifier
  [ "$(pixel 1-notifier 1179 895)" = "$(asset_pixel postbox.png 0 0)" ] && break
  sleep 0.5
done
expect_pixel 1-notifier 1179 895 "$(asset_pixel postbox.png 0 0)" "post box top left"
expect_pixel 1-notifier 1216 942 "$(asset_pixel postbox.png 37 47)" "post box bottom right"
expect_pixel 1-notifier 1178 895 "$desktop" "left of the post box (outside the mask)"
expect_pixel 1-notifier 1179 894 "$desktop" "above the post box (outside the mask)"
expect_pixel 1-notifier 1150 840 "$desktop" "notifier window corner (outside the mask)"
expect_pixel 1-notifier 1150 962 "$desktop" "left of the base line (outside the mask)"
expect_pixel 1-notifier 1181 962 "$(asset_pixel baseline.png 0 0)" "base line"

# Opening the stack: header, card 1 (picture at 1045,849) and no footer for one mail.
xdotool mousemove 1198 919 click 1
sleep 1.5
shot 2-stack
expect_pixel 2-stack 1045 849 "$(asset_pixel card.png 0 0)" "card 1 top left"
expect_pixel 2-stack 1174 898 "$(asset_pixel card.png 129 49)" "card 1 bottom right"
expect_pixel 2-stack 1044 849 "$desktop" "left of card 1"
expect_pixel 2-stack 1045 899 "$desktop" "gap below card 1"
expect_pixel 2-stack 1045 909 "$desktop" "no footer for one mail"

# The detail window: the decoded body, read back through the clipboard.
xdotool mousemove 1110 874 click 1
sleep 1.5
shot 3-detail
xdotool mousemove 1100 850 click 1
sleep 0.3
xdotool key ctrl+a ctrl+c
sleep 0.3
body=$("$clip")
case "$body" in
  *明日の会議は十時からです。*) ;;
  *) fail "the detail window shows '$body'" ;;
esac

# "閉じる" closes the detail window; a second click on the post box closes everything.
xdotool mousemove 1214 976 click 1
sleep 0.5
xdotool mousemove 1198 919 click 1
sleep 1
shot 4-closed
expect_pixel 4-closed 1179 895 "$desktop" "post box gone"
expect_pixel 4-closed 1045 849 "$desktop" "card gone"
echo "PASS: screenshots in $shots"
