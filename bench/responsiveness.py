#!/usr/bin/env python3
"""Responsiveness of the real resident while servers hang, crawl or hold many mails.

Runs build/.../ferrowick offscreen with FW_BENCH_PROBE, so that the program itself records
how late a 10 ms GUI-thread timer fires and how long each check takes. Scenarios:
  a  five accounts on a server that accepts and never answers
  b  one account on a server that answers every line after 1.5 s
  c  one account with 10,000 mails in dovecot
  d  five accounts of 20 mails each in dovecot (steady check against the sum of the
     five accounts checked alone)
Prints one table; the targets are in bench/README.md.

usage: bench/responsiveness.py FERROWICK_EXE [--only a,b,c,d]
"""
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FIXTURE = os.path.join(ROOT, "tests", "fixtures", "dovecot-fixture")
MAILS = os.path.join(ROOT, "scripts", "demo-mails")


def listener():
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", 0))
    s.listen(16)
    return s


def hung_server(sock, stop):
    """Accepts every connection and never says a word."""
    held = []
    sock.settimeout(0.2)
    while not stop.is_set():
        try:
            conn, _ = sock.accept()
            held.append(conn)
        except socket.timeout:
            pass
    for c in held:
        c.close()


def slow_server(sock, stop, delay=1.5):
    """A correct POP3 server that waits `delay` seconds before every line it answers."""
    mails = [b"Subject: slow %d\r\nFrom: a@example.jp\r\nDate: Mon, 7 Dec 2026 10:00:0%d +0900\r\n\r\nbody\r\n" % (i, i)
             for i in (1, 2)]

    def serve(conn):
        f = conn.makefile("rwb")

        def say(text):
            time.sleep(delay)
            f.write(text)
            f.flush()

        try:
            say(b"+OK slow\r\n")
            for line in f:
                cmd = line.strip().split(b" ")
                verb = cmd[0].upper()
                if verb == b"CAPA":
                    say(b"+OK\r\nUSER\r\nUIDL\r\nTOP\r\n.\r\n")
                elif verb in (b"USER", b"PASS", b"NOOP"):
                    say(b"+OK\r\n")
                elif verb == b"STAT":
                    say(b"+OK %d %d\r\n" % (len(mails), sum(map(len, mails))))
                elif verb == b"UIDL":
                    say(b"+OK\r\n" + b"".join(b"%d slow-%d\r\n" % (i + 1, i + 1) for i in range(len(mails))) + b".\r\n")
                elif verb == b"LIST":
                    say(b"+OK\r\n" + b"".join(b"%d %d\r\n" % (i + 1, len(m)) for i, m in enumerate(mails)) + b".\r\n")
                elif verb == b"TOP":
                    say(b"+OK\r\n" + mails[int(cmd[1]) - 1] + b".\r\n")
                elif verb == b"QUIT":
                    say(b"+OK\r\n")
                    break
                else:
                    say(b"-ERR\r\n")
        except (OSError, ValueError, IndexError):
            pass
        conn.close()

    sock.settimeout(0.2)
    while not stop.is_set():
        try:
            conn, _ = sock.accept()
            threading.Thread(target=serve, args=(conn,), daemon=True).start()
        except socket.timeout:
            pass


class Dovecot:
    def __init__(self, work, lasting_logins=False):
        """`lasting_logins`: login processes that serve many connections and so resume TLS sessions."""
        self.state = work
        env = dict(os.environ, FW_DOVECOT_LASTING_LOGINS="1" if lasting_logins else "0")
        subprocess.run([FIXTURE, "start", self.state], check=True, stdout=subprocess.DEVNULL, env=env)
        self.env = {}
        with open(os.path.join(self.state, "env")) as f:
            for line in f:
                k, _, v = line.strip().partition("=")
                self.env[k] = v

    def fill(self, user, count):
        """Delivers `count` distinct small mails straight into the user's Maildir."""
        md = os.path.join(self.env["MAIL_ROOT"], user, "Maildir")
        for i in range(count):
            name = "%d.bench%06d.fw" % (int(time.time()), i)
            tmp = os.path.join(md, "tmp", name)
            with open(tmp, "wb") as f:
                f.write(b"Message-ID: <%s-%d@bench.invalid>\r\nSubject: bench %d\r\nFrom: b@example.jp\r\n"
                        b"Date: Mon, 7 Dec 2026 09:%02d:%02d +0900\r\n\r\nbody %d\r\n"
                        % (user.encode(), i, i, (i // 60) % 60, i % 60, i))
            os.chown(tmp, 65534, 65534)
            os.rename(tmp, os.path.join(md, "new", name))

    def account(self, user):
        n = user[-1]
        return ("pop3s://127.0.0.1:%s" % self.env["POP3S_PORT"], user, "pass" + n)

    def stop(self):
        subprocess.run([FIXTURE, "stop", self.state], stdout=subprocess.DEVNULL)


class Resident:
    """The real program in a fresh program folder of its own."""

    def __init__(self, exe, work, name, accounts, interval=5, cafile=None, stalls=True):
        self.home = os.path.join(work, name)
        data = os.path.join(self.home, "ferrowick", "maildata")
        os.makedirs(os.path.join(data, "INI"))
        lines = ["[POP]"]
        for k, (server, user, password) in enumerate(accounts, start=1):
            lines += ["POP_SERVER%d=%s" % (k, server), "USER%d=%s" % (k, user), "PASS%d=%s" % (k, password)]
        lines += ["[MAIL_REV]", "REV_TIMER_MIN=%d" % interval]
        with open(os.path.join(data, "INI", "maildata.ini"), "w") as f:
            f.write("\r\n".join(lines) + "\r\n")
        if cafile:
            shutil.copy(cafile, os.path.join(data, "INI", "cacert.pem"))
        self.probe = os.path.join(self.home, "probe.txt")
        # Without stalls the probe's 10 ms timer is off: it costs nothing between checks.
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_DATA_HOME=self.home, FW_BENCH_PROBE=self.probe,
                   FW_BENCH_PROBE_STALLS="1" if stalls else "0", LC_ALL="C.UTF-8")
        self.env = env
        self.log = open(os.path.join(self.home, "stderr.txt"), "w")
        self.proc = subprocess.Popen([exe], env=env, stdout=self.log, stderr=subprocess.STDOUT)

    def checks(self):
        """(check_ms, stall_max_ms or None when stalls are not watched) per finished check."""
        out = []
        try:
            with open(self.probe) as f:
                for line in f:
                    fields = dict(kv.split("=") for kv in line.split())
                    stall = fields.get("stall_max_ms")
                    out.append((float(fields["check_ms"]), None if stall is None else float(stall)))
        except FileNotFoundError:
            pass
        return out

    def wait_checks(self, n, timeout):
        end = time.time() + timeout
        while time.time() < end and len(self.checks()) < n:
            if self.proc.poll() is not None:
                raise RuntimeError("ferrowick exited: see " + self.log.name)
            time.sleep(0.05)
        return self.checks()

    def terminate(self):
        """Seconds from SIGTERM to exit."""
        start = time.monotonic()
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return float("inf")
        return time.monotonic() - start


def scenario_a(exe, work):
    sock = listener()
    stop = threading.Event()
    threading.Thread(target=hung_server, args=(sock, stop), daemon=True).start()
    port = sock.getsockname()[1]
    accounts = [("insecure-pop3://127.0.0.1:%d" % port, "u%d" % k, "p") for k in range(1, 6)]
    r = Resident(exe, work, "a", accounts)
    # The check hangs until the 10 s login bound; by then the probe has seen the GUI thread
    # through the whole wait.
    checks = r.wait_checks(1, 40)
    # The accounts now back off; a fresh resident is quit in the middle of its first check.
    term_first = r.terminate()
    r2 = Resident(exe, work, "a2", accounts)
    time.sleep(3)
    term = r2.terminate()
    stop.set()
    return {"stall": checks[0][1] if checks else None, "check": checks[0][0] if checks else None,
            "sigterm": term, "sigterm_idle": term_first}


def scenario_b(exe, work):
    sock = listener()
    stop = threading.Event()
    threading.Thread(target=slow_server, args=(sock, stop), daemon=True).start()
    port = sock.getsockname()[1]
    r = Resident(exe, work, "b", [("insecure-pop3://127.0.0.1:%d" % port, "u", "p")])
    checks = r.wait_checks(1, 60)
    term = r.terminate()
    stop.set()
    return {"stall": checks[0][1] if checks else None, "check": checks[0][0] if checks else None, "sigterm": term}


def scenario_c(exe, work, dovecot):
    dovecot.fill("user1", 10000)
    r = Resident(exe, work, "c", [dovecot.account("user1")], cafile=dovecot.env["CA_FILE"])
    checks = r.wait_checks(3, 300)
    term = r.terminate()
    return {"stall": max(c[1] for c in checks) if checks else None, "check": checks[0][0] if checks else None,
            "steady": statistics.median(c[0] for c in checks[1:]) if len(checks) > 1 else None, "sigterm": term}


def scenario_d(exe, work, dovecot):
    users = ["user%d" % k for k in range(1, 6)]
    for u in users:
        dovecot.fill(u, 20)
    accounts = [dovecot.account(u) for u in users]
    rounds = 7
    r = Resident(exe, work, "d", accounts, cafile=dovecot.env["CA_FILE"])
    checks = r.wait_checks(rounds + 1, 120)
    r.terminate()
    together = statistics.median(c[0] for c in checks[1:])
    alone = []
    for i, acc in enumerate(accounts):
        s = Resident(exe, work, "d%d" % i, [acc], cafile=dovecot.env["CA_FILE"])
        c = s.wait_checks(rounds + 1, 120)
        s.terminate()
        alone.append(statistics.median(x[0] for x in c[1:]))
    return {"stall": max(c[1] for c in checks), "steady": together, "sum_alone": sum(alone)}


def fmt(v, unit="ms"):
    if v is None:
        return "—"
    if unit == "s":
        return "%.2f s" % v
    return "%.1f ms" % v


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    exe = os.path.abspath(sys.argv[1])
    only = set("abcd")
    if "--only" in sys.argv:
        only = set(sys.argv[sys.argv.index("--only") + 1].split(","))
    work = tempfile.mkdtemp(prefix="fw-resp-")
    dovecot = None
    rows = []
    try:
        if "a" in only:
            a = scenario_a(exe, work)
            rows.append(("a  5 hung accounts", fmt(a["stall"]), "≤ 50 ms", fmt(a["check"]),
                         "SIGTERM mid-check → exit %s (≤ 1 s)" % fmt(a["sigterm"], "s")))
        if "b" in only:
            b = scenario_b(exe, work)
            rows.append(("b  1 account, 1.5 s per line", fmt(b["stall"]), "≤ 50 ms", fmt(b["check"]),
                         "SIGTERM → exit %s" % fmt(b["sigterm"], "s")))
        if "c" in only:
            dovecot = Dovecot(os.path.join(work, "c-server"))
            c = scenario_c(exe, work, dovecot)
            dovecot.stop()
            dovecot = None
            rows.append(("c  1 account, 10,000 mails", fmt(c["stall"]), "≤ 50 ms", fmt(c["check"]),
                         "steady check %s" % fmt(c["steady"])))
        if "d" in only:
            dovecot = Dovecot(os.path.join(work, "d-server"))
            d = scenario_d(exe, work, dovecot)
            ratio = d["steady"] / d["sum_alone"] if d["sum_alone"] else float("nan")
            rows.append(("d  5 accounts × 20 mails", fmt(d["stall"]), "—", fmt(d["steady"]),
                         "sum of five alone %s; ratio %.2f (≤ 0.5)" % (fmt(d["sum_alone"]), ratio)))
    finally:
        if dovecot:
            dovecot.stop()
        shutil.rmtree(work, ignore_errors=True)
    print("%-32s %-14s %-8s %-14s %s" % ("scenario", "longest stall", "target", "first check", "other"))
    for row in rows:
        print("%-32s %-14s %-8s %-14s %s" % row)
    return 0


if __name__ == "__main__":
    sys.exit(main())
