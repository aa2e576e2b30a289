#!/usr/bin/env python3
"""Where a steady check of the resident spends its time: five accounts x 20 mails, the real
resident offscreen, a profiler attached from the end of one check to the end of the
CHECKS-th check after it (so the window holds CHECKS whole checks and their idle time).

  perf    perf record -e cpu-clock -g; prints the top symbols (self and with children)
  strace  strace -c -f; the system calls per check

usage: bench/profile_resident.py BUILD_DIR perf|strace [--checks N] [--interval S] [--out DIR]
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


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("build")
    ap.add_argument("tool", choices=("perf", "strace"))
    ap.add_argument("--checks", type=int, default=10)
    ap.add_argument("--interval", type=int, default=3)
    ap.add_argument("--out", default=None, help="keep perf.data / strace output here")
    args = ap.parse_args()
    exe = os.path.join(os.path.abspath(args.build), "app", "ferrowick")
    work = tempfile.mkdtemp(prefix="fw-profile-")
    os.chmod(work, 0o755)
    out = os.path.abspath(args.out) if args.out else work
    os.makedirs(out, exist_ok=True)
    server = None
    try:
        server = bench.Server(os.path.join(work, "server"))
        users = ["user%d" % k for k in range(1, 6)]
        for u in users:
            server.deliver_demo(u, 20)
        res = bench.BenchResident(exe, work, "five", [server.account(u) for u in users], args.interval,
                                  server.env["CA_FILE"])
        res.wait_check_end(3, timeout=120)  # fetched and settled
        if args.tool == "perf":
            data = os.path.join(out, "perf.data")
            cmd = ["perf", "record", "-q", "-e", "cpu-clock", "-F", "4000", "-g", "-o", data, "-p", str(res.pid)]
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
        print("%d steady checks of 5 x 20 profiled; check wall ms: %s" % (args.checks, " ".join("%.0f" % w for w in walls)))
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
        if server:
            server.stop()
        if not args.out:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
