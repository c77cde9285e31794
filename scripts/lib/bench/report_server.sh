# What the report-server benchmarks share. Source it, then:
#   bench_report_server BUILD NAME   builds report-server into BUILD/host, starts
#                                    the scratch PostgreSQL cluster of BUILD
#                                    (stopped on exit) and sets `work` to an
#                                    empty BUILD/bench-NAME
source "$(dirname "${BASH_SOURCE[0]}")/../pg.sh"

bench_report_server() {
  local build=$1 name=$2 root log="$1/bench-$2-build.log"
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
  echo "bench-$name: building report-server into $build/host" >&2
  cmake -S "$root" -B "$build/host" -DCMAKE_BUILD_TYPE=Release >"$log" 2>&1
  cmake --build "$build/host" -j "$(nproc)" --target report-server >>"$log" 2>&1 ||
    { tail -30 "$log" >&2; exit 1; }
  work="$build/bench-$name"
  rm -rf "$work"
  mkdir -p "$work"
  trap "pg_stop '$build'" EXIT
  pg_start "$build"
}
