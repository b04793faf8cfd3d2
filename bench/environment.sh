# Sourced by the benchmark scripts for the line printed beside every
# figure:  bench_environment SOURCE_DIR BUILD_DIR
bench_environment() {
  local commit build_type
  commit="$(git -C "$1" rev-parse --short HEAD 2>/dev/null || echo unknown)"
  build_type="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$2/CMakeCache.txt" 2>/dev/null)"
  echo "commit $commit, build type ${build_type:-unknown}, nproc $(nproc)," \
       "load average $(cut -d' ' -f1-3 /proc/loadavg), $(date -u '+%Y-%m-%d %H:%M UTC')"
}
