#!/usr/bin/env bash
# Load benchmark of report-server against nginx: reports per second and
# latency percentiles for 64 concurrent clients (wrk), with and without
# keep-alive, for the SQLite and the PostgreSQL store, side by side with nginx
# answering the same requests with an empty 204 and writing its access log.
# Prints a Markdown section; with --save it replaces the "Report server under
# load" section of docs/benchmarks.md (the other sections are kept).
#
#   scripts/bench server [BUILD_DIR] [--save] [--seconds N]   (BUILD_DIR default: build-bench)
#
# Everything listens on loopback; each run lasts N seconds (default 10).
# Run it through /work/tools/isolated or on an otherwise quiet machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
cd "$root"
build=build-bench
save=
seconds=10
while [ $# -gt 0 ]; do
  case $1 in
    --save) save=1 ;;
    --seconds) seconds=$2; shift ;;
    *) build=$1 ;;
  esac
  shift
done

scripts/setup
mkdir -p "$build"
build=$(cd "$build" && pwd)
source scripts/lib/bench/report_server.sh
bench_report_server "$build" server
python3 scripts/lib/bench_server.py --bin "$build/host/bin" --work "$work" --pg "$PG_URL" \
  --seconds "$seconds" >"$work/section.md"
cat "$work/section.md"
if [ -n "$save" ]; then
  python3 - "$work/section.md" docs/benchmarks.md <<'PY'
import re, sys
section = open(sys.argv[1]).read().rstrip() + "\n"
page = open(sys.argv[2]).read()
title = "## Report server under load"
start = page.find(title)
if start < 0:
    page = page.rstrip() + "\n\n" + section
else:
    nxt = page.find("\n## ", start + len(title))
    page = page[:start] + section + ("\n" + page[nxt + 1:] if nxt >= 0 else "")
open(sys.argv[2], "w").write(page)
PY
  echo "bench-server: saved in docs/benchmarks.md" >&2
fi
