#!/usr/bin/env bash
# Digest throughput of a 1 GiB file (page cache warm): the host tool, md5sum,
# openssl, and the stub's own digest under Wine (stubtool.exe shares it).
# Prints MB/s for each and the ratios the goals are stated in.
#
#   scripts/bench md5 [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-build}
cd "$root"
scripts/setup
source scripts/lib/wine.sh
target=$(windows_run_target)
windows_run_line "$target"
windows=windows
[ "$target" = i686 ] || windows=windows-$target
[ -x "$build/host/bin/stubtool" ] && [ -f "$build/$windows/bin/stubtool.exe" ] ||
  scripts/build "$build" -DSTUB_WINDOWS_TARGET="$target" >/dev/null
build=$(cd "$build" && pwd)
wine_env "$build" "$target"
wine_prefix

data="$build/bench/md5-1GiB.bin"
mkdir -p "$build/bench"
if [ ! -f "$data" ] || [ "$(stat -c %s "$data")" -ne 1073741824 ]; then
  head -c 1073741824 /dev/urandom >"$data"
fi
cat "$data" >/dev/null  # warm the page cache

wineserver -p >/dev/null 2>&1 </dev/null
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

best() {  # best wall time of 5 runs of the command, in seconds
  local t best=
  for _ in 1 2 3 4 5; do
    local s e
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1 </dev/null
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

expected=$(md5sum "$data" | cut -d' ' -f1)
[ "$("$build/host/bin/stubtool" md5 "$data")" = "$expected" ] || { echo "stubtool md5 disagrees with md5sum" >&2; exit 1; }
[ "$(wine "$STUB_WIN_BIN/stubtool.exe" md5 "Z:${data//\//\\}" 2>/dev/null)" = "$expected" ] ||
  { echo "stubtool.exe md5 disagrees with md5sum" >&2; exit 1; }

t_tool=$(best "$build/host/bin/stubtool" md5 "$data")
t_md5sum=$(best md5sum "$data")
t_openssl=$(best openssl md5 "$data")
t_wine=$(best wine "$STUB_WIN_BIN/stubtool.exe" md5 "Z:${data//\//\\}")

mbs() { echo "scale=0; 1024 / $1" | bc -l; }
ratio() { echo "scale=2; $2 / $1" | bc -l; }  # throughput of first over second = t2/t1
echo "| digest of 1 GiB | seconds | MB/s |"
echo "|---|---|---|"
printf '| stubtool md5 (native) | %.2f | %s |\n' "$t_tool" "$(mbs "$t_tool")"
printf '| md5sum | %.2f | %s |\n' "$t_md5sum" "$(mbs "$t_md5sum")"
printf '| openssl md5 | %.2f | %s |\n' "$t_openssl" "$(mbs "$t_openssl")"
printf '| stub digest under Wine (stubtool.exe) | %.2f | %s |\n' "$t_wine" "$(mbs "$t_wine")"
echo
echo "stubtool / md5sum throughput: $(ratio "$t_tool" "$t_md5sum") (goal >= 1.00)"
echo "stubtool / openssl throughput: $(ratio "$t_tool" "$t_openssl") (goal >= 0.90)"
echo "Wine digest / native digest throughput: $(ratio "$t_wine" "$t_tool") (goal >= 0.90)"
