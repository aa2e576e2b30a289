#!/usr/bin/env python3
"""Where a steady check of the resident spends its time: ACCOUNTS accounts x MAILS mails, the real
resident offscreen, a profiler attached from the end of one check to the end of the
CHECKS-th check after it (so the window holds CHECKS whole checks and their idle time).

  perf    perf record -e cpu-clock -g; prints the top symbols (self and with children)
  strace  strace -c -f; the system calls per check
  rss     no profiler: after CHECKS checks, the resident's RSS by mapping (/proc/PID/smaps)

Mailboxes hold the demo mails cycled, up to 20, then small generated mails up to MAILS.

usage: bench/profile_resident.py BUILD_DIR perf|strace|rss [--checks N] [--accounts 5] [--mails 20]
                                 [--interval S] [--out DIR]
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import resident_bench as bench  # noqa: E402


def print_rss(pid):
    """RSS per mapped object; anonymous memory split into heap, thread arenas and stacks."""
    sizes, name, private = {}, None, 0
    with open("/proc/%d/smaps" % pid) as f:
        for line in f:
            parts = line.split()
            if "-" in parts[0] and len(parts) >= 5 and not parts[0].endswith(":"):
                lo, hi = (int(x, 16) for x in parts[0].split("-"))
                name = parts[5] if len(parts) > 5 else ("[anon %s]" % ("64 MiB arena" if hi - lo >= 32 << 20 else
                                                                        "8 MiB stack" if hi - lo >= 4 << 20 else
                                                                        "small"))
            elif parts[0] == "Rss:":
                sizes[name] = sizes.get(name, 0) + int(parts[1])
            elif parts[0] in ("Private_Clean:", "Private_Dirty:"):
                private += int(parts[1])
    total = sum(sizes.values())
    print("RSS %.1f MB, of which private (not shared with any other process) %.1f MB" % (total / 1024.0, private / 1024.0))
    for n, kb in sorted(sizes.items(), key=lambda x: -x[1])[:25]:
        print("  %7.1f MB  %s" % (kb / 1024.0, n))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("build")
    ap.add_argument("tool", choices=("perf", "strace", "rss"))
    ap.add_argument("--checks", type=int, default=10)
    ap.add_argument("--accounts", type=int, default=5)
    ap.add_argument("--mails", type=int, default=20)
    ap.add_argument("--interval", type=int, default=3)
    ap.add_argument("--out", default=None, help="keep perf.data / strace output here")
    args = ap.parse_args()
    exe = os.path.join(os.path.abspath(args.build), "app", "ferrowick")
    work = tempfile.mkdtemp(prefix="fw-profile-")
    os.chmod(work, 0o755)
    out = os.path.abspath(args.out) if args.out else work
    os.makedirs(out, exist_ok=True)
    server = res = None
    try:
        server = bench.Server(os.path.join(work, "server"))
        users = ["user%d" % k for k in range(1, args.accounts + 1)]
        for u in users:
            server.deliver_demo(u, min(20, args.mails))
            server.fill_to(u, args.mails)
        res = bench.BenchResident(exe, work, "five", [server.account(u) for u in users], args.interval,
                                  server.env["CA_FILE"])
        res.wait_check_end(3, timeout=600)  # fetched and settled
        if args.tool == "rss":
            res.wait_check_end(3 + args.checks, timeout=60 + 10 * args.checks)
            time.sleep(0.9)
            print_rss(res.pid)
            res.terminate()
            return 0
        if args.tool == "perf":
            data = os.path.join(out, "perf.data")
            cmd = ["perf", "record", "-q", "-e", "cpu-clock", "-F", "4000", "--call-graph", "dwarf,32768", "-o", data,
                   "-p", str(res.pid)]
        else:
            data = os.path.join(out, "strace.txt")
            cmd = ["strace", "-c", "-f", "-o", data, "-p", str(res.pid)]
        prof = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.3)
        checks = res.wait_check_end(4 + args.checks, timeout=60 + 10 * args.checks)
        prof.send_signal(signal.SIGINT)
        prof.wait()
        walls = [c[0] for c in checks[4:4 + args.checks]]
        res.terminate()
        print("%d steady checks of %d x %d profiled; check wall ms: %s" % (args.checks, args.accounts, args.mails,
                                                                         " ".join("%.0f" % w for w in walls)))
        if args.tool == "perf":
            for mode in (["--no-children"], ["--children"]):
                rep = subprocess.run(["perf", "report", "-i", data, "--stdio", "-g", "none", "--percent-limit", "1.5",
                                      "--sort", "dso,symbol"] + mode, capture_output=True, text=True)
                print("\n# perf report %s" % mode[0])
                print("\n".join(line for line in rep.stdout.splitlines() if line and not line.startswith("#")))
        else:
            with open(data) as f:
                print(f.read())
    finally:
        if res and res.proc.poll() is None:
            res.terminate()
        if server:
            server.stop()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
