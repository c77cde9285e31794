#!/usr/bin/env python3
"""End-to-end scenarios: the real stub under Wine against report-server.

    tests/e2e/run.py BUILD_DIR [NAME_PATTERN]

Prints one line per scenario and closes with "e2e: N passed, N failed".
"""
import re
import sys
import time
import traceback

from harness import Env, Failure, Server, check, check_eq, is_timeid, profile_query, query_of
import scenarios_cluster
import scenarios_download
import scenarios_faults
import scenarios_server
import scenarios_start
import scenarios_tls

SUITES = [scenarios_start, scenarios_download, scenarios_tls, scenarios_faults, scenarios_cluster,
          scenarios_server]


def main():
    env = Env(sys.argv[1])
    pattern = re.compile(sys.argv[2]) if len(sys.argv) > 2 else None
    passed = failed = 0
    try:
        passed, failed = run_all(env, pattern)
    finally:  # the test root leaves the prefix even when the run breaks off
        try:
            env.close()
        except Failure as e:
            failed += 1
            print(f"FAIL closing the run: {e}", flush=True)
    print(f"e2e: {passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


def run_all(env, pattern):
    passed = failed = 0
    for suite in SUITES:
        for name in sorted(n for n in dir(suite) if n.startswith("test_")):
            if pattern and not pattern.search(name):
                continue
            start = time.monotonic()
            try:
                env.reset()
                getattr(suite, name)(env)
                passed += 1
                print(f"PASS {name} ({time.monotonic() - start:.1f} s)", flush=True)
            except Failure as e:
                failed += 1
                print(f"FAIL {name}: {e}", flush=True)
            except Exception:  # a broken scenario is a failure, not a crash
                failed += 1
                print(f"FAIL {name}:\n{traceback.format_exc()}", flush=True)
    return passed, failed


if __name__ == "__main__":
    sys.exit(main())
