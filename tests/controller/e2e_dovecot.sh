#!/usr/bin/env bash
# The real program against a real dovecot: the day log grows by the mails' keys, the receive
# folder is emptied after every check, and a mail delivered later is logged too.
# Usage: e2e_dovecot.sh FERROWICK_EXE FIXTURE MAILS_DIR WORK_DIR
set -euo pipefail
exe=$1 fixture=$2 mails=$3 work=$4

fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work"; mkdir -p "$work/prog/maildata/INI"
"$fixture" start "$work/dovecot" >/dev/null
trap '"$fixture" stop "$work/dovecot" >/dev/null 2>&1 || true; [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true' EXIT
. "$work/dovecot/env"
"$fixture" deliver "$work/dovecot" user1 "$mails"/01-*.eml "$mails"/02-*.eml
"$fixture" deliver "$work/dovecot" user3 "$mails"/03-*.eml

cp "$exe" "$work/prog/ferrowick"
cp "$CA_FILE" "$work/prog/maildata/INI/cacert.pem"
printf '[POP]\r\nPOP_SERVER1=pop3s://localhost:%s\r\nUSER1=user1\r\nPASS1=pass1\r\nNAME1=%s#\r\nPOP_SERVER3=localhost:%s\r\nUSER3=user3\r\nPASS3=pass3\r\n[MAIL_REV]\r\nREV_TIMER_MIN=2\r\n' \
  "$POP3S_PORT" "work" "$POP3_PORT" >"$work/prog/maildata/INI/maildata.ini"

QT_QPA_PLATFORM=offscreen "$work/prog/ferrowick" >"$work/ferrowick.log" 2>&1 &
app=$!
log=$(echo "$work"/prog/maildata/Dat/RevMail*.dat)

wait_for_keys() { # count
  for _ in $(seq 1 100); do
    [ -f "$log" ] || log=$(echo "$work"/prog/maildata/Dat/RevMail*.dat)
    [ -f "$log" ] && [ "$(grep -c '^Time: ' "$log" || true)" -ge "$1" ] && return 0
    kill -0 "$app" 2>/dev/null || fail "ferrowick exited: $(cat "$work/ferrowick.log")"
    sleep 0.2
  done
  fail "the day log did not reach $1 keys: $(cat "$log" 2>/dev/null)"
}

wait_for_keys 3
head -n 1 "$log" | grep -q $'^--- Write Start ---\r$' || fail "day log does not start with its start line"
# The key: the mail's time line, then the name of its file (account and server id hashed).
grep -qE $'^Time: [0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} fw-[0-9a-f]{32}\r$' "$log" || fail "malformed key in day log"

# A new mail with its own date is logged by a later check; the first three are not logged twice.
{ printf 'Date: Tue, 01 Dec 2026 08:09:10 +0900\r\nMessage-ID: <e2e-new@ferrowick.invalid>\r\n'; grep -viE '^(Date|Message-ID):' "$mails"/05-*.eml; } >"$work/new.eml"
"$fixture" deliver "$work/dovecot" user1 "$work/new.eml"
wait_for_keys 4
grep -qE $'^Time: 12/01 08:09:10 fw-[0-9a-f]{32}\r$' "$log" || fail "the new mail's key is missing: $(cat "$log")"
sleep 2.5
[ "$(grep -c '^Time: ' "$log")" -eq 4 ] || fail "keys were logged twice: $(cat "$log")"
left=$(find "$work/prog/maildata" -maxdepth 1 -name '*.txt' | wc -l)
[ "$left" -eq 0 ] || fail "receive folder not emptied: $(ls "$work/prog/maildata")"
grep -q "del=0" "$LOG_FILE" || fail "dovecot did not log the sessions"
if grep -E "del=[1-9]" "$LOG_FILE"; then fail "a mail was deleted on the server"; fi
grep -qi pass1 "$work/ferrowick.log" && fail "the password appeared in the program's output"
# A logout's SIGTERM ends the program cleanly; the mails fetched stay in the private cache.
kill -TERM "$app"
rc=0; wait "$app" || rc=$?
app=""
[ "$rc" -eq 0 ] || fail "ferrowick exited with $rc on SIGTERM"
[ "$(find "$work/prog/maildata" -maxdepth 1 -name '*.txt' | wc -l)" -eq 0 ] || fail "mail files left after exit"
cache="$work/prog/maildata/.fw-cache"
[ "$(find "$cache" -type f ! -name restart-index | wc -l)" -eq 4 ] || fail "expected 4 cached copies: $(find "$cache" -type f)"
[ -z "$(find "$cache" -type f ! -perm 600)" ] || fail "a cached copy is readable by others"
[ -z "$(find "$cache" -type d ! -perm 700)" ] || fail "a cache folder is open to others"

# A restart fetches none of them again: every session after it asks for no TOP.
sessions=$(wc -l <"$LOG_FILE")
rm "$log" # the restart's own day log is waited for
QT_QPA_PLATFORM=offscreen "$work/prog/ferrowick" >>"$work/ferrowick.log" 2>&1 &
app=$!
wait_for_keys 4
kill -TERM "$app"
wait "$app" || fail "ferrowick failed after its restart"
app=""
after=$(tail -n +"$((sessions + 1))" "$LOG_FILE" | grep 'top=' || true)
[ -n "$after" ] || fail "no POP3 session after the restart"
if grep -v 'top=0/' <<<"$after"; then fail "mails were fetched again after the restart"; fi
echo "e2e: day log $(grep -c '^Time: ' "$log") keys, receive folder empty, nothing deleted on the server, nothing fetched twice"
