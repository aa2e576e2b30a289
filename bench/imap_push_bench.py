#!/usr/bin/env python3
"""IMAP push (IDLE) against polling, with the real program and a dovecot fixture.

1. Delivery to post box: two residents on Xvfb, REV_TIMER_MIN=60, one with an IMAP account
   (imaps://, IDLE), one with a POP3 account. A mail is delivered to both at once, ROUNDS times;
   printed: the median time until each resident has announced it (its day-log line, written
   as the post box is shown). Target: IDLE <= 1 s. Then SIGTERM to exit of the IDLE resident,
   its connection open (target <= 1 s).
2. Logins per simulated day, REV_TIMER_MIN=5, for MINUTES: an IMAP account with IDLE with the
   clock as it is, one with the program's time SCALE times as fast (FW_BENCH_CLOCK_SCALE), and
   a POP3 account as it is; one mail per simulated hour is delivered to each IMAP account.
   dovecot's "Login:" lines per account, scaled to a day. Target: <= 50 for IDLE.

usage: bench/imap_push_bench.py BUILD_DIR [--rounds 10] [--minutes 10] [--scale 144] [--only 1,2]
Needs root (dovecot), Xvfb and dovecot-imapd.
"""
import argparse
import glob
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import responsiveness as rb  # noqa: E402  (the dovecot fixture helper)


class Program:
    """The real resident in a program folder of its own, on one account."""

    def __init__(self, exe, work, name, account, interval, env_extra):
        self.home = os.path.join(work, name)
        self.folder = os.path.join(self.home, "ferrowick")
        data = os.path.join(self.folder, "maildata", "INI")
        os.makedirs(data)
        server, user, password = account
        with open(os.path.join(data, "maildata.ini"), "w") as f:
            f.write("[POP]\r\nPOP_SERVER1=%s\r\nUSER1=%s\r\nPASS1=%s\r\n[MAIL_REV]\r\nREV_TIMER_MIN=%d\r\n"
                    "UNLOAD_TIMER_SEC=2\r\n[ABOUT_PALAM]\r\nUNLOAD_FLAG=1\r\n" % (server, user, password, interval))
        shutil.copy(env_extra.pop("CA"), os.path.join(data, "cacert.pem"))
        env = dict(os.environ, XDG_DATA_HOME=self.home, LC_ALL="C.UTF-8", TZ="Asia/Tokyo", **env_extra)
        self.log = open(os.path.join(self.home, "stderr.txt"), "w")
        self.proc = subprocess.Popen([exe], env=env, stdout=self.log, stderr=subprocess.STDOUT)

    def day_log(self):
        paths = glob.glob(os.path.join(self.folder, "maildata", "Dat", "RevMail*.dat"))
        if not paths:
            return ""
        with open(paths[0], encoding="utf-8", errors="replace") as f:
            return f.read()

    # Seconds from SIGTERM to exit.
    terminate = rb.Resident.terminate


class Mail:
    """Mails with a Date second of their own, written straight into a Maildir."""

    second = 0

    @classmethod
    def deliver(cls, dovecot, user):
        cls.second += 1
        s = cls.second
        md = os.path.join(dovecot.env["MAIL_ROOT"], user, "Maildir")
        name = "%d.push%06d.fw" % (int(time.time()), s)
        tmp = os.path.join(md, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(("Message-ID: <push-%s-%d@bench.invalid>\r\nFrom: b@example.jp\r\nSubject: push %d\r\n"
                     "Date: Tue, 01 Jan 2030 %02d:%02d:%02d +0900\r\n\r\nbody\r\n"
                     % (user, s, s, s // 3600, s // 60 % 60, s % 60)).encode())
        os.chown(tmp, 65534, 65534)
        os.rename(tmp, os.path.join(md, "new", name))
        return "Time: 01/01 %02d:%02d:%02d" % (s // 3600, s // 60 % 60, s % 60)


def logins(dovecot, user):
    with open(dovecot.env["LOG_FILE"], errors="replace") as f:
        return f.read().count("Login: user=<%s>" % user)


def median(values):
    values = sorted(values)
    return values[len(values) // 2] if values else float("nan")


def delivery(exe, work, dovecot, rounds):
    display = ":%d" % random.randint(120, 199)
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)
    ca = dovecot.env["CA_FILE"]
    x = {"DISPLAY": display, "QT_QPA_PLATFORM": "xcb"}
    idle = Program(exe, work, "idle", ("imaps://127.0.0.1:%s" % dovecot.env["IMAPS_PORT"], "user1", "pass1"), 60,
                   dict(x, CA=ca))
    poll = Program(exe, work, "poll", ("pop3s://127.0.0.1:%s" % dovecot.env["POP3S_PORT"], "user2", "pass2"), 60,
                   dict(x, CA=ca))
    try:
        first = [Mail.deliver(dovecot, u) for u in ("user1", "user2")]
        end = time.time() + 60
        while time.time() < end and not (first[0] in idle.day_log() and first[1] in poll.day_log()):
            time.sleep(0.1)
        time.sleep(2)  # the watcher connects beside the first check
        idle_ms, poll_ms = [], []
        for _ in range(rounds):
            lines = {p: Mail.deliver(dovecot, u) for p, u in ((idle, "user1"), (poll, "user2"))}
            start = time.monotonic()
            seen = {}
            while len(seen) < 2 and time.monotonic() - start < 75:
                for p, line in lines.items():
                    if p not in seen and line in p.day_log():
                        seen[p] = (time.monotonic() - start) * 1000
                time.sleep(0.01)
            idle_ms.append(seen.get(idle, float("inf")))
            poll_ms.append(seen.get(poll, float("inf")))
            time.sleep(random.uniform(0.5, 3))
        print("delivery to post box, REV_TIMER_MIN=60, median of %d: IDLE %.0f ms (target <= 1000), polling %.0f ms"
              % (rounds, median(idle_ms), median(poll_ms)))
        print("  IDLE: %s" % " ".join("%.0f" % v for v in idle_ms))
        print("  polling: %s" % " ".join("%.0f" % v for v in poll_ms))
        print("SIGTERM to exit with the IDLE connection open: %.2f s (target <= 1)" % idle.terminate())
    finally:
        for p in (idle, poll):
            if p.proc.poll() is None:
                p.terminate()
        xvfb.terminate()
        xvfb.wait()


def logins_per_day(exe, work, dovecot, minutes, scale):
    ca = dovecot.env["CA_FILE"]
    off = {"QT_QPA_PLATFORM": "offscreen"}
    imaps = "imaps://127.0.0.1:%s" % dovecot.env["IMAPS_PORT"]
    runs = [("IMAP with IDLE, clock as it is", "user3", 1.0, Program(exe, work, "l3", (imaps, "user3", "pass3"), 5,
                                                                      dict(off, CA=ca))),
            ("IMAP with IDLE, clock x%g" % scale, "user4", scale,
             Program(exe, work, "l4", (imaps, "user4", "pass4"), 5,
                     dict(off, CA=ca, FW_BENCH_CLOCK_SCALE=str(scale)))),
            ("POP3, clock as it is", "user5", 1.0,
             Program(exe, work, "l5", ("pop3s://127.0.0.1:%s" % dovecot.env["POP3S_PORT"], "user5", "pass5"), 5,
                     dict(off, CA=ca)))]
    try:
        time.sleep(5)  # past the first check and the watchers' connecting
        before = {user: logins(dovecot, user) for _, user, _, _ in runs}
        start = time.monotonic()
        delivered = {user: 0 for _, user, _, _ in runs}
        while time.monotonic() - start < minutes * 60:
            elapsed = time.monotonic() - start
            for _, user, s, _ in runs[:2]:
                # One mail per simulated hour (at least one in the run).
                due = max(1, int(elapsed * s / 3600) + (1 if elapsed > minutes * 30 else 0))
                while delivered[user] < due:
                    Mail.deliver(dovecot, user)
                    delivered[user] += 1
            time.sleep(0.5)
        real = time.monotonic() - start
        for what, user, s, p in runs:
            n = logins(dovecot, user) - before[user]
            print("logins per simulated day, REV_TIMER_MIN=5, %s: %.0f (%d logins in %.1f real min, %d mails)"
                  % (what, n * 86400 / (real * s), n, real / 60, delivered[user]))
        print("  POP3 (and IMAP without IDLE) logs in at every check: 86400 / 5 = 17280 a day; target for IDLE <= 50")
    finally:
        for _, _, _, p in runs:
            p.terminate()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--rounds", type=int, default=10)
    ap.add_argument("--minutes", type=float, default=10)
    ap.add_argument("--scale", type=float, default=144)
    ap.add_argument("--only", default="1,2")
    args = ap.parse_args()
    exe = os.path.join(args.build, "app", "ferrowick")
    work = tempfile.mkdtemp(prefix="fw-push-")
    os.chmod(work, 0o755)
    dovecot = rb.Dovecot(os.path.join(work, "dovecot"))
    try:
        if "IMAPS_PORT" not in dovecot.env:
            sys.exit("the fixture has no IMAP (install dovecot-imapd)")
        only = args.only.split(",")
        if "1" in only:
            if not shutil.which("Xvfb"):
                sys.exit("needs Xvfb")
            delivery(exe, work, dovecot, args.rounds)
        if "2" in only:
            logins_per_day(exe, work, dovecot, args.minutes, args.scale)
    finally:
        dovecot.stop()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
