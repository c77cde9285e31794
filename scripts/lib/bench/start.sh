#!/usr/bin/env bash
# Start-up of the stub with a server that answers at once:
# - time from running `wine setup.exe` to its download window being mapped on
#   the screen (polled with xdotool every 10 ms; nothing subtracted), best of 5;
# - the size of stub.exe against its goal (at most 102,400 bytes);
# - the peak memory (VmHWM from /proc/PID/status, polled until the process
#   ends) of the stub's process over a normal run: window, download of the
#   installer, digest check, launch, exit.
# The same figures for a minimal statically linked window program
# (engine-bench window) show what any program costs under Wine.
#
#   scripts/bench start [BUILD_DIR] [--kv] [--runs N]     (BUILD_DIR default: build-bench)
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
python3 scripts/lib/bench.py start "$bench_build" "${args[@]}"
