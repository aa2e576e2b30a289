#!/usr/bin/env bash
# The real program with five accounts on a server that accepts and never answers: a SIGTERM,
# SIGINT or SIGHUP in the middle of the check still ends it, with exit code 0 and no mail
# file left behind. (How fast is the responsiveness benchmark's business.)
# Usage: e2e_quit_hung.sh FERROWICK_EXE WORK_DIR
set -euo pipefail
exe=$1 work=$2

fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work"; mkdir -p "$work"
python3 - "$work/port" <<'PY' &
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(32)
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
held = []
end = time.time() + 120
s.settimeout(0.5)
while time.time() < end:
    try:
        held.append(s.accept()[0])
    except socket.timeout:
        pass
PY
server=$!
trap 'kill "$server" 2>/dev/null || true; [ -n "${app:-}" ] && kill -9 "$app" 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")

for sig in TERM INT HUP; do
  prog="$work/$sig/ferrowick"
  mkdir -p "$prog/maildata/INI"
  {
    printf '[POP]\r\n'
    for k in 1 2 3 4 5; do printf 'POP_SERVER%s=insecure-pop3://127.0.0.1:%s\r\nUSER%s=u%s\r\nPASS%s=secret%s\r\n' "$k" "$port" "$k" "$k" "$k" "$k"; done
  } >"$prog/maildata/INI/maildata.ini"
  cp "$exe" "$prog/ferrowick"
  QT_QPA_PLATFORM=offscreen "$prog/ferrowick" >"$work/$sig.log" 2>&1 &
  app=$!
  # Wait until all five accounts are connected and waiting.
  for _ in $(seq 1 100); do
    [ "$(ss -Htn state established "( dport = :$port )" 2>/dev/null | wc -l)" -ge 5 ] && break
    sleep 0.1
  done
  [ "$(ss -Htn state established "( dport = :$port )" | wc -l)" -ge 5 ] || fail "the five accounts did not connect"
  kill -"$sig" "$app"
  rc=0
  for _ in $(seq 1 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app" 2>/dev/null && fail "SIG$sig did not end the program during a hung check"
  wait "$app" || rc=$?
  app=""
  [ "$rc" -eq 0 ] || fail "SIG$sig: exit code $rc: $(cat "$work/$sig.log")"
  left=$(find "$prog/maildata" -maxdepth 1 -name '*.txt' | wc -l)
  [ "$left" -eq 0 ] || fail "SIG$sig left $left mail files"
  grep -q secret "$work/$sig.log" && fail "a password appeared in the output"
done
echo "e2e: SIGTERM, SIGINT and SIGHUP each ended a check hung on five accounts, exit 0"
