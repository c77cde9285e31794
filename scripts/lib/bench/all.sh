#!/usr/bin/env bash
# Runs every benchmark (md5, download, wait, start)
# on one build with the benchmark settings and prints one Markdown page: the
# table of figures with their goals, a line for each goal missed, the date
# and the machine. The page is also saved as docs/benchmarks.md.
#
#   scripts/bench all [BUILD_DIR] [--no-save]        (BUILD_DIR default: build-bench)
#
# Takes about 5 minutes; the figures are best-of-several runs, so run it on a
# quiet machine for figures worth comparing.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
cd "$root"
build="build-bench"
save=1
for a in "$@"; do
  case $a in
    --no-save) save= ;;
    *) build=$a ;;
  esac
done

scripts/setup
source scripts/lib/bench.sh
load_start=$(cut -d' ' -f1 /proc/loadavg)
echo "bench: building into $build" >&2
bench_build_programs "$build"
export BENCH_BUILT=1

out="$bench_build/bench-results"
rm -rf "$out"
mkdir -p "$out"
echo "bench: digest (md5)" >&2
scripts/bench md5 "$bench_build" >"$out/md5.txt"
echo "bench: download (download)" >&2
scripts/bench download "$bench_build" --kv >"$out/download.kv"
echo "bench: waits (wait)" >&2
scripts/bench wait "$bench_build" --kv >"$out/wait.kv"
echo "bench: start-up (start)" >&2
scripts/bench start "$bench_build" --kv >"$out/start.kv"

python3 scripts/lib/bench_table.py --md5 "$out/md5.txt" --download "$out/download.kv" \
  --wait "$out/wait.kv" --start "$out/start.kv" --load-start "$load_start" >"$out/benchmarks.md"
cat "$out/benchmarks.md"
if [ -n "$save" ]; then
  mkdir -p docs
  # The report server's load section comes from scripts/bench server; keep it.
  python3 - "$out/benchmarks.md" docs/benchmarks.md <<'PY'
import sys
new = open(sys.argv[1]).read().rstrip() + "\n"
old = open(sys.argv[2]).read() if __import__("os").path.exists(sys.argv[2]) else ""
title = "## Report server under load"
start = old.find(title)
if start >= 0:
    end = old.find("\n## ", start + len(title))
    new += "\n" + (old[start:end + 1] if end >= 0 else old[start:]).rstrip() + "\n"
open(sys.argv[2], "w").write(new)
PY
  echo "bench: saved as docs/benchmarks.md" >&2
fi
