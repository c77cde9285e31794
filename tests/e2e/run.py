#!/usr/bin/env python3
"""End-to-end scenarios: the real stub under Wine against report-server.

    tests/e2e/run.py BUILD_DIR [NAME_PATTERN]

Needs $WINEPREFIX ready and $DISPLAY up (scripts/e2e). The scenarios run in
E2E_LANES lanes at once (default 3): each lane has a network namespace of its
own (for the stub's fixed ports), a copy of the prefix and its own Xvfb, and
takes the next unclaimed scenario until none is left. Prints one line per
scenario and closes with "e2e: N passed, N failed".
"""
import os
import re
import shutil
import subprocess
import sys
import threading
import time
import traceback

from harness import ROOT, Env, Failure
import scenarios
import scenarios_faults

LANE = """set -e
ip link set lo up
chattr -i "$WINEPREFIX/drive_c/Temp" "$WINEPREFIX/drive_c/app" 2>/dev/null || true  # left by a killed run
rm -rf "$WINEPREFIX" && cp -a "$E2E_TEMPLATE" "$WINEPREFIX"
source scripts/lib/wine.sh
start_display "$E2E_DISPLAY"
trap stop_display EXIT
python3 tests/e2e/run.py "$@"
"""

def units(pattern):
    """The scenarios to run, in groups that must share a lane, longest first."""
    groups = {}
    for suite in (scenarios, scenarios_faults):
        for name in sorted(n for n in dir(suite) if n.startswith("test_") and (not pattern or pattern.search(n))):
            fn = getattr(suite, name)
            groups.setdefault(getattr(fn, "group", name), []).append((name, fn))
    return sorted(groups.items(), key=lambda g: -sum(getattr(f, "cost", 8) for _, f in g[1]))

def run_lane(build, pattern, claims, out):
    """Runs each unit this lane claims first; returns (passed, failed); the fault rows go to RESULTS."""
    env, passed, failed = Env(build), 0, 0
    try:
        for key, tests in units(pattern):
            try:
                claims and os.close(os.open(os.path.join(claims, re.sub(r"\W", "_", key)), os.O_CREAT | os.O_EXCL))
            except FileExistsError:
                continue
            for name, fn in tests:
                start = time.monotonic()
                try:
                    env.reset()
                    fn(env)
                    passed += 1
                    out(f"PASS {name} ({time.monotonic() - start:.1f} s)")
                except Exception as e:  # a broken scenario is a failure, not a crash
                    failed += 1
                    out(f"FAIL {name}: {e if isinstance(e, Failure) else traceback.format_exc()}")
    finally:  # the test root leaves the prefix even when the run breaks off
        env.close()
    return passed, failed

def main():
    build = os.path.abspath(sys.argv[1])
    pattern = re.compile(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2] else None
    if os.environ.get("E2E_CLAIMS"):  # one lane of a run: lines for the run to read
        passed, failed = run_lane(build, pattern, os.environ["E2E_CLAIMS"], lambda s: print(s, flush=True))
        for name, recorded in scenarios_faults.RESULTS.items():
            print(f"ROW\t{name}\t{recorded}", flush=True)
        return print(f"lane: {passed} passed, {failed} failed", flush=True)
    lanes = min(int(os.environ.get("E2E_LANES", "3")), len(units(pattern)))
    if subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode != 0:
        lanes = 1  # no network namespaces here
    if lanes <= 1:
        passed, failed = run_lane(build, pattern, None, lambda s: print(s, flush=True))
        rows = scenarios_faults.RESULTS
    else:
        passed, failed, rows = lanes_run(build, lanes)
    if pattern is None:
        try:
            scenarios_faults.matrix_matches_docs(build, rows)
            passed += 1
        except Failure as e:
            failed += 1
            print(f"FAIL the fault table: {e}", flush=True)
    print(f"e2e: {passed} passed, {failed} failed")
    return 0 if failed == 0 else 1

def lanes_run(build, lanes):
    claims = os.path.join(build, "e2e-claims")
    shutil.rmtree(claims, ignore_errors=True)
    os.makedirs(claims)
    totals, rows, lock = [0, 0], {}, threading.Lock()

    def lane(i):
        env = dict(os.environ, E2E_LANE=str(i), E2E_CLAIMS=claims, E2E_DISPLAY=str(120 + 10 * i),
                   E2E_TEMPLATE=os.environ["WINEPREFIX"], WINEPREFIX=os.path.join(build, f"wineprefix-lane{i}"))
        proc = subprocess.Popen(["unshare", "-n", "bash", "-c", LANE, "lane", *sys.argv[1:]], cwd=ROOT, env=env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        finished = False
        for line in proc.stdout:
            with lock:
                m = re.match(r"lane: (\d+) passed, (\d+) failed", line)
                if m:
                    finished, totals[0], totals[1] = True, totals[0] + int(m[1]), totals[1] + int(m[2])
                elif line.startswith("ROW\t"):
                    rows.__setitem__(*line.rstrip("\n").split("\t")[1:])
                else:
                    print(line, end="", flush=True)
        if proc.wait() != 0 or not finished:
            with lock:
                totals[1] += 1
                print(f"FAIL lane {i} ended early (exit code {proc.returncode})", flush=True)

    threads = [threading.Thread(target=lane, args=(i,)) for i in range(lanes)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return totals[0], totals[1], rows

if __name__ == "__main__":
    sys.exit(main())
