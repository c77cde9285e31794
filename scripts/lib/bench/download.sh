#!/usr/bin/env bash
# Download throughput of a 256 MiB file over loopback from report-server:
# - the stub's engine (URLDownFile on its worker thread) with the real
#   DownloadController::OnProgress handling every notification, against a
#   view that draws nothing (engine-bench engine);
# - a bare URLDownloadToFileW call without a callback (engine-bench bare), and
#   one whose callback only sets the engine's no-cache flags (engine-bench flags);
# - curl on the host.
# The Windows figures are timed inside the program (no Wine start-up); best of
# 3 runs each, interleaved; prints MiB/s and the ratios.
#
#   scripts/bench download [BUILD_DIR] [--kv] [--runs N]  (BUILD_DIR default: build-bench)
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
python3 scripts/lib/bench.py download "$bench_build" "${args[@]}"
