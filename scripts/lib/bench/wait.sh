#!/usr/bin/env bash
# CPU time of the stub's process while it waits, next to the wall time:
# - the 5-second fetch wait of a silent server (report-server-faults --info-delay 30),
#   from the server recording the Info request to it recording the
#   "GetNetIsnull=''" report, and from the process's start to that report;
# - WaitSeconds(2) after a successful download of the built-in installer, from
#   the server recording "DownFinish=OK:..." to the process's exit (which
#   includes starting the installer and the bounded report flush).
# CPU is utime + stime of the process from /proc/PID/stat (exact at the exit,
# from wait4); best of 3 runs. A spinning wait would burn about its wall time.
#
#   scripts/bench wait [BUILD_DIR] [--kv] [--runs N]     (BUILD_DIR default: build-bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
cd "$root"
build="build-bench"
args=()
while [ $# -gt 0 ]; do
  case $1 in
    --kv) args+=(--kv) ;;
    --runs) args+=(--runs "$2"); shift ;;
    *) build=$1 ;;
  esac
  shift
done
source scripts/lib/bench.sh
bench_prepare "$build"
python3 scripts/lib/bench.py wait "$bench_build" "${args[@]}"
