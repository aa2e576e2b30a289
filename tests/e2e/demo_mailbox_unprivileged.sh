#!/usr/bin/env bash
# The demo's mailbox set up by an ordinary user: scripts/demo-mailbox, run as nobody (through
# runuser when this runs as root, as the caller otherwise), starts dovecot as that user, and
# both demo accounts serve their mails.
#   demo_mailbox_unprivileged.sh FWMAIL SOURCE_DIR
set -euo pipefail
fwmail=$1 src=$2
PATH=$PATH:/usr/sbin:/sbin
command -v dovecot >/dev/null 2>&1 || { echo "SKIP: dovecot is missing"; exit 77; }
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  command -v runuser >/dev/null 2>&1 || { echo "SKIP: runuser is missing"; exit 77; }
  as_user=(runuser -u nobody --)
fi
user=$("${as_user[@]}" id -un)
[ "$("${as_user[@]}" id -u)" -ne 0 ] || { echo "FAIL: not an unprivileged user"; exit 1; }

# A copy the user can reach, whatever the checkout's permissions (under a 0700 home, say).
work=$(mktemp -d /tmp/fw-demo-mailbox.XXXXXX)
demo="$work/demo"
cleanup() {
  "${as_user[@]}" "$work/src/scripts/demo-mailbox" stop "$demo" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  tail -n 20 "$demo"/dovecot/dovecot.out "$demo"/dovecot/dovecot.log 2>/dev/null || true
  exit 1
}
mkdir -p "$work/src/scripts" "$work/src/tests/fixtures" "$demo"
cp -r "$src/scripts/demo-mailbox" "$src/scripts/demo-mails" "$work/src/scripts/"
cp "$src/tests/fixtures/dovecot-fixture" "$work/src/tests/fixtures/"
cp "$fwmail" "$work/fwmail"
chmod -R a+rX "$work"
[ ${#as_user[@]} -eq 0 ] || chown -R nobody: "$demo"

"${as_user[@]}" "$work/src/scripts/demo-mailbox" start "$demo" >"$work/start.log" 2>&1 ||
  fail "the demo's mailbox did not start as $user: $(cat "$work/start.log")"
master=$(cat "$demo/dovecot/dovecot.pid")
[ "$(ps -o user= -p "$master")" = "$user" ] || fail "dovecot runs as $(ps -o user= -p "$master"), not $user"
children=$(ps -o user= --ppid "$master" | sort -u | tr '\n' ' ')
[ "$children" = "$user " ] || fail "dovecot's helpers run as: $children"

check() { # account, expected count
  local out
  out=$("${as_user[@]}" "$work/fwmail" check --account "$1" --folder "$demo" 2>&1) || fail "account $1: $out"
  grep -qx "$2 mail(s)" <<<"$out" || fail "account $1 serves: $out"
}
check 1 4
check 2 3
# A mail delivered later (every 40 seconds in the demo) is served too.
"${as_user[@]}" "$work/src/tests/fixtures/dovecot-fixture" deliver "$demo/dovecot" user1 \
  "$work/src/scripts/demo-mails/05-build-english.eml" || fail "delivery as $user failed"
check 1 5
# IMAP works unprivileged too (imap-login without chroot), read-only.
imap=""
if grep -q '^IMAPS_PORT=' "$demo/dovecot/env"; then
  imaps=$(sed -n 's/^IMAPS_PORT=//p' "$demo/dovecot/env")
  out=$(printf 'pass1\n' | "${as_user[@]}" "$work/fwmail" check --password-stdin \
    --cafile "$(sed -n 's/^CA_FILE=//p' "$demo/dovecot/env")" "imaps://127.0.0.1:$imaps" user1 2>&1) ||
    fail "IMAP: $out"
  grep -qx "5 mail(s)" <<<"$out" || fail "IMAP serves: $out"
  imap=" (and over IMAP)"
fi

"${as_user[@]}" "$work/src/scripts/demo-mailbox" stop "$demo"
kill -0 "$master" 2>/dev/null && fail "dovecot still runs after stop"
echo "demo mailbox: dovecot ran as $user (pid $master) and served 4 + 3 mails, then 5 after a delivery$imap"
