#!/usr/bin/env python3
"""Soak: every mail delivered is announced, and nothing else, on mailboxes that grow and shrink.

The real resident runs on Xvfb against a dovecot fixture with three accounts: user1 starts
above 100 mails (150), user2 with 20, user3 with 5. For --minutes, mails are delivered (one, or
a burst of two with the same Date second) and removed at random. Each mail has a Date second
of its own (bursts share one), so its day-log line ("Time: MM/DD HH:MM:SS <file>") says which
mail it is. A mail is removed only once the resident has had two checks' time to see it.

Printed at the end: mails delivered and announced (a day-log line each), mails missed, lines
for mails never delivered during the soak (older mails that moved into an account's newest 100
after a removal, and anything else, which would be a fault), the post box's appearances
(sampled every 0.5 s with xdotool) against the checks that logged a new mail, checks and their
duration (FW_BENCH_PROBE), and dovecot's counters per account.

usage: bench/announce_soak.py BUILD_DIR [--minutes 10] [--interval 5] [--seed N]
BUILD_DIR holds app/ferrowick. Needs root (dovecot), Xvfb and xdotool.
"""
import argparse
import datetime
import glob
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import responsiveness as rb  # noqa: E402  (shares the dovecot fixture helper)

BASE = datetime.datetime(2030, 1, 1, 0, 0, 0)
LOGOUT = re.compile(r"pop3\(([^)]+)\).*Logged out in=(\d+) out=(\d+) top=(\d+)/(\d+)")
ACCOUNTS = {"user1": 150, "user2": 20, "user3": 5}


class Mailboxes:
    """The three Maildirs, written directly; each mail knows its Date second."""

    def __init__(self, dovecot):
        self.dovecot = dovecot
        self.second = 0
        self.on_server = {user: [] for user in ACCOUNTS}  # (name, second, delivered_at)

    def maildir(self, user):
        return os.path.join(self.dovecot.env["MAIL_ROOT"], user, "Maildir")

    def deliver(self, user, burst=1):
        self.second += 1
        for k in range(burst):
            name = "%d.soak%06d_%d.fw" % (int(time.time()), self.second, k)
            md = self.maildir(user)
            tmp = os.path.join(md, "tmp", name)
            date = "Tue, 01 Jan 2030 %s +0900" % (BASE + datetime.timedelta(seconds=self.second)).strftime("%H:%M:%S")
            with open(tmp, "wb") as f:
                f.write(("Message-ID: <soak-%d-%d@ferrowick.invalid>\r\nFrom: soak@example.jp\r\n"
                         "Subject: soak %d.%d\r\nDate: %s\r\n\r\nbody\r\n" % (self.second, k, self.second, k, date))
                        .encode())
            os.chown(tmp, 65534, 65534)
            os.rename(tmp, os.path.join(md, "new", name))
            self.on_server[user].append((name, self.second, time.time()))
        return self.second

    def remove(self, user, older_than):
        """Removes a random mail delivered before `older_than`; its Date second, or None."""
        candidates = [m for m in self.on_server[user] if m[2] < older_than]
        if not candidates:
            return None
        name, second, _ = random.choice(candidates)
        md = self.maildir(user)
        for path in glob.glob(os.path.join(md, "new", name + "*")) + glob.glob(os.path.join(md, "cur", name + "*")):
            os.unlink(path)
        self.on_server[user] = [m for m in self.on_server[user] if m[0] != name]
        return second


def time_line(second):
    return "Time: " + (BASE + datetime.timedelta(seconds=second)).strftime("%m/%d %H:%M:%S")


def day_log_lines(program):
    paths = glob.glob(os.path.join(program, "maildata", "Dat", "RevMail*.dat"))
    if not paths:
        return []
    with open(paths[0], encoding="utf-8", errors="replace") as f:
        return [line.strip() for line in f if line.startswith("Time: ")]


def xdotool(env, *args):
    return subprocess.run(["xdotool"] + list(args), env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          text=True).stdout


def visible_windows(pid, env):
    """The position and size of each visible window of the program."""
    out = set()
    for window in xdotool(env, "search", "--onlyvisible", "--pid", str(pid)).split():
        out.update(re.findall(r"Position: (\S+) .*\n\s*Geometry: (\S+)", xdotool(env, "getwindowgeometry", window)))
    return out


def checks(probe):
    try:
        with open(probe) as f:
            return [float(dict(kv.split("=") for kv in line.split())["check_ms"]) for line in f]
    except FileNotFoundError:
        return []


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--minutes", type=float, default=10)
    ap.add_argument("--interval", type=int, default=5)
    ap.add_argument("--seed", type=int, default=21)
    args = ap.parse_args()
    random.seed(args.seed)
    # A stopped soak still stops what it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))
    exe = os.path.join(args.build, "app", "ferrowick")
    for tool in ("Xvfb", "xdotool"):
        if not shutil.which(tool):
            sys.exit("needs " + tool)

    work = tempfile.mkdtemp(prefix="fw-soak-")
    os.chmod(work, 0o755)
    dovecot = rb.Dovecot(os.path.join(work, "dovecot"))
    boxes = Mailboxes(dovecot)
    initial = {}
    for user, count in ACCOUNTS.items():
        for _ in range(count):
            initial[boxes.deliver(user)] = user
    display = ":%d" % random.randint(120, 199)
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    program = os.path.join(work, "home", "ferrowick")
    data = os.path.join(program, "maildata", "INI")
    os.makedirs(data)
    shutil.copy(dovecot.env["CA_FILE"], os.path.join(data, "cacert.pem"))
    lines = ["[POP]"]
    for k, user in enumerate(ACCOUNTS, start=1):
        server, u, password = dovecot.account(user)
        lines += ["POP_SERVER%d=%s" % (k, server), "USER%d=%s" % (k, u), "PASS%d=%s" % (k, password)]
    lines += ["[MAIL_REV]", "REV_TIMER_MIN=%d" % args.interval, "UNLOAD_TIMER_SEC=2", "[ABOUT_PALAM]",
              "UNLOAD_FLAG=1"]
    with open(os.path.join(data, "maildata.ini"), "w") as f:
        f.write("\r\n".join(lines) + "\r\n")
    probe = os.path.join(work, "probe.txt")
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_DATA_HOME=os.path.join(work, "home"),
               FW_BENCH_PROBE=probe, LC_ALL="C.UTF-8", TZ="Asia/Tokyo")
    time.sleep(1)
    log = open(os.path.join(work, "ferrowick.txt"), "w")
    app = subprocess.Popen([exe], env=env, stdout=log, stderr=subprocess.STDOUT)
    try:
        first = 100 + 20 + 5
        deadline = time.time() + 120
        while len(day_log_lines(program)) < first and time.time() < deadline:
            time.sleep(0.5)
        if len(day_log_lines(program)) != first:
            sys.exit("the first check logged %d lines, not %d" % (len(day_log_lines(program)), first))
        print("first check: %d lines (the newest 100, 20 and 5)" % first)
        start_checks = len(checks(probe))
        # The post box's window stands at 1147,837 on this screen (tests/e2e/notify_e2e.sh).
        # Other windows (a notice when an account fails, say) are counted apart.
        others = set()

        def post_box_visible():
            windows = visible_windows(app.pid, env)
            box = {w for w in windows if w[0] == "1147,837"}
            others.update(windows - box)
            return bool(box)

        delivered = {}  # second -> (user, how many)
        removed = 0
        samples = visible_samples = appearances = unexplained = growths = 0
        was_visible = post_box_visible()
        lines_before, grew_at = len(day_log_lines(program)), 0.0
        soak_start = time.time()
        end = soak_start + args.minutes * 60
        next_event = time.time() + random.uniform(2, 15)
        while time.time() < end:
            if app.poll() is not None:
                sys.exit("ferrowick exited: see " + log.name)
            now = time.time()
            if now >= next_event:
                user = random.choice(list(ACCOUNTS))
                if random.random() < 0.65:
                    burst = 2 if random.random() < 0.25 else 1
                    delivered[boxes.deliver(user, burst)] = (user, burst)
                elif boxes.remove(user, now - 2.5 * args.interval) is not None:
                    removed += 1
                next_event = now + random.uniform(2, 15)
            visible = post_box_visible()
            lines_now = len(day_log_lines(program))
            if lines_now > lines_before:
                growths += 1
                grew_at = now
            lines_before = lines_now
            samples += 1
            visible_samples += visible
            if visible and not was_visible:
                appearances += 1
                # The post box comes up only with a check that logged a mail.
                if now - grew_at > 3:
                    unexplained += 1
                    print("post box up at %.0f s with no mail logged since %.0f s (%d checks)"
                          % (now - soak_start, grew_at - soak_start, len(checks(probe))))
            was_visible = visible
            time.sleep(0.5)
        time.sleep(3 * args.interval)

        logged = day_log_lines(program)
        by_time = {}
        for line in logged:
            key = " ".join(line.split(" ")[:3])
            by_time[key] = by_time.get(key, 0) + 1
        mails = sum(n for _, n in delivered.values())
        missed = sum(max(0, n - by_time.get(time_line(s), 0)) for s, (_, n) in delivered.items())
        twice = sum(max(0, by_time.get(time_line(s), 0) - n) for s, (_, n) in delivered.items())
        delivered_keys = {time_line(s) for s in delivered}
        initial_keys = {time_line(s) for s in initial}
        slid_in = sum(n for k, n in by_time.items() if k in initial_keys) - first
        foreign = sum(n for k, n in by_time.items() if k not in initial_keys and k not in delivered_keys)
        all_checks = checks(probe)[start_checks:]

        print("soak: %.1f min, checks every %d s, seed %d" % (args.minutes, args.interval, args.seed))
        print("mails on the server at the end: %s" % {u: len(m) for u, m in boxes.on_server.items()})
        print("delivered: %d mails (%d deliveries, %d of them bursts of two in one second), removed: %d"
              % (mails, len(delivered), sum(1 for _, n in delivered.values() if n == 2), removed))
        print("announced: %d of %d delivered; missed: %d; announced twice: %d" % (mails - missed, mails, missed, twice))
        print("older mails announced when a removal moved them into the newest 100: %d" % slid_in)
        print("day-log lines for mails never delivered: %d" % foreign)
        print("post box: appeared %d times (%d without a mail logged just before), visible in %d of %d samples "
              "(%.1f %%); the day log grew %d times" % (appearances, unexplained, visible_samples, samples,
                                                        100.0 * visible_samples / max(1, samples), growths))
        if others:
            print("other windows seen: %s" % sorted(others))
        with open(os.path.join(program, "maildata", "Dat", "ferrowick.log"), errors="replace") if os.path.exists(
                os.path.join(program, "maildata", "Dat", "ferrowick.log")) else open(os.devnull) as f:
            failures = [line.strip() for line in f]
        print("program log: %d lines%s" % (len(failures), "".join("\n  " + line for line in failures[:10])))
        if all_checks:
            ordered = sorted(all_checks)
            print("checks: %d, median %.0f ms, max %.0f ms" % (len(all_checks), ordered[len(ordered) // 2], ordered[-1]))
        with open(dovecot.env["LOG_FILE"]) as f:
            per_user = {}
            for m in LOGOUT.finditer(f.read()):
                s = per_user.setdefault(m.group(1), [0, 0, 0, 0])
                s[0] += 1
                s[1] += int(m.group(3))
                s[2] += int(m.group(4))
                s[3] += int(m.group(5))
        for user, (sessions, out, tops, top_bytes) in sorted(per_user.items()):
            print("dovecot %s: %d sessions, %.1f KB sent, %d TOPs (%.1f KB)"
                  % (user, sessions, out / 1024.0, tops, top_bytes / 1024.0))
        # The post box was seen at all, so its absence elsewhere means something.
        ok = missed == 0 and twice == 0 and foreign == 0 and unexplained == 0 and appearances > 0
        print("RESULT: " + ("every delivered mail announced once, nothing else" if ok else "FAULT"))
        return 0 if ok else 1
    finally:
        app.terminate()
        app.wait(timeout=30)
        xvfb.terminate()
        xvfb.wait()
        dovecot.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
