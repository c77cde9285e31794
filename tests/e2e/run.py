#!/usr/bin/env python3
"""End-to-end scenarios, the real stub under Wine against report-server: run.py BUILD_DIR [NAME_PATTERN].
Needs $WINEPREFIX ready and $DISPLAY up (scripts/e2e). E2E_LANES lanes (default 3) run at once, each with its
own network namespace, prefix copy and Xvfb, each taking the next unclaimed group of scenarios."""
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
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

LIMIT = 300  # seconds for any one scenario, all its waits included

def over_time(*_):
    raise Failure(f"the scenario ran past its limit of {LIMIT} s")

def run_lane(build, pattern, claims):
    """Runs each group this lane claims first (every group without `claims`); returns [passed, failed]."""
    env, counts = Env(build), [0, 0]
    try:
        for key, tests in units(pattern):
            try:
                claims and os.close(os.open(os.path.join(claims, re.sub(r"\W", "_", key)), os.O_CREAT | os.O_EXCL))
            except FileExistsError:
                continue
            for name, fn in tests:
                start, line, since = time.monotonic(), None, env.mark(name)
                signal.signal(signal.SIGALRM, over_time)
                signal.alarm(LIMIT)
                try:
                    env.reset()
                    fn(env)
                except Exception as e:  # a broken scenario is a failure, not a crash
                    line = f"FAIL {name}: {e if isinstance(e, Failure) else traceback.format_exc()}"
                    said = env.said(since)
                    line += "\n  what Wine's programs and the servers said:\n" + (said or "(nothing)")
                finally:
                    signal.alarm(0)
                counts[line is not None] += 1
                print(line or f"PASS {name} ({time.monotonic() - start:.1f} s)", flush=True)
    finally:  # the test root leaves the prefix even when the run breaks off
        env.close()
    return counts

def main():
    build = os.path.abspath(sys.argv[1])
    pattern = re.compile(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2] else None
    claims = os.environ.get("E2E_CLAIMS")
    if claims:  # one lane of a run: its counts and fault rows go to a file for the run
        result = [run_lane(build, pattern, claims), scenarios_faults.RESULTS]
        with open(os.path.join(claims, f"lane{os.environ['E2E_LANE']}.json"), "w") as f:
            return json.dump(result, f)
    lanes = min(int(os.environ.get("E2E_LANES", "3")), len(units(pattern)))
    if lanes > 1 and subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode == 0:
        (passed, failed), rows = lanes_run(build, lanes)
    else:  # one lane, or no network namespaces here
        (passed, failed), rows = run_lane(build, pattern, None), scenarios_faults.RESULTS
    if pattern is None:  # the fault table is one more check
        problem = scenarios_faults.table_problem(build, rows)
        passed, failed = passed + (not problem), failed + bool(problem)
        problem and print(f"FAIL the fault table: {problem}", flush=True)
    print(f"e2e: {passed} passed, {failed} failed")
    return 0 if failed == 0 else 1

def lanes_run(build, lanes):
    """Runs the lanes in their namespaces at once; returns their summed counts and fault rows."""
    claims = os.path.join(build, "e2e-claims")
    shutil.rmtree(claims, ignore_errors=True)
    os.makedirs(claims)
    procs = [subprocess.Popen(["unshare", "-n", "bash", "-c", LANE, "lane", *sys.argv[1:]], cwd=ROOT,
                              stdin=subprocess.DEVNULL, env=dict(
                                  os.environ, E2E_LANE=str(i), E2E_CLAIMS=claims, E2E_DISPLAY=str(120 + 10 * i),
                                  E2E_TEMPLATE=os.environ["WINEPREFIX"],
                                  WINEPREFIX=os.path.join(build, f"wineprefix-lane{i}"))) for i in range(lanes)]
    counts, rows = [0, 0], {}
    for i, proc in enumerate(procs):
        result = pathlib.Path(claims, f"lane{i}.json")
        if proc.wait() != 0 or not result.exists():
            counts[1] += 1
            print(f"FAIL lane {i} ended early (exit code {proc.returncode})", flush=True)
        if result.exists():
            (passed, failed), lane_rows = json.loads(result.read_text())
            counts, rows = [counts[0] + passed, counts[1] + failed], rows | lane_rows
    return counts, rows

if __name__ == "__main__":
    sys.exit(main())
