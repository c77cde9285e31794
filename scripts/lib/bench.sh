# shellcheck shell=bash
# Shared by the benchmark scripts: their own build of the programs, whose
# built-in server address is the benchmark port (18480, apart from the port
# of the end-to-end tests), their own Wine prefix under that build, and a
# virtual screen with a warm wineserver.
#
#   source scripts/lib/bench.sh; bench_prepare BUILD_DIR    (sets bench_build)
#
# BENCH_BUILT=1 in the environment skips the build (scripts/bench builds once).

BENCH_PORT=18480

# Builds the programs the benchmarks run into BUILD_DIR, configured as
# scripts/build does but with the benchmark settings, and only those targets:
# a test program that does not build must not stop a measurement.
bench_build_programs() {
  mkdir -p "$1"
  bench_build=$(cd "$1" && pwd)
  local root log settings jobs target windows=windows
  target=$(windows_run_target)  # the build this machine runs (scripts/lib/wine.sh)
  [ "$target" = i686 ] || windows=windows-$target
  root=$(pwd)
  log="$bench_build/bench-build.log"
  settings=(-DSTUB_SERVER_URL="http://127.0.0.1:$BENCH_PORT/" -DSTUB_DOWNLOAD_HOST="127.0.0.1:$BENCH_PORT")
  jobs=$(nproc 2>/dev/null || echo 2)
  if ! {
    cmake -S "$root" -B "$bench_build/host" -DCMAKE_BUILD_TYPE=Release "${settings[@]}" &&
    cmake --build "$bench_build/host" -j "$jobs" --target gen-settings gen-icon stubtool report-server report-server-faults &&
    cmake -S "$root" -B "$bench_build/$windows" -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$target.cmake" \
      -DSTUB_HOST_BIN="$bench_build/host/bin" "${settings[@]}" &&
    cmake --build "$bench_build/$windows" -j "$jobs" --target stub stubtool sample-installer engine-bench
  } >"$log" 2>&1; then
    tail -30 "$log" >&2
    echo "bench: build failed (log: $log)" >&2
    return 1
  fi
}

bench_prepare() {
  scripts/setup
  source scripts/lib/wine.sh
  windows_run_line "$(windows_run_target)"
  if [ -z "${BENCH_BUILT:-}" ]; then
    bench_build_programs "$1"
  else
    bench_build=$(cd "$1" && pwd)
  fi
  wine_env "$bench_build" "$(windows_run_target)"
  wine_prefix
  start_display
  trap stop_display EXIT
}
