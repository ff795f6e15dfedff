#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer, then fuzzes each for SECONDS (default 30),
# as many at a time as the machine has cores, starting from its seeds and kept regressions.
#   scripts/fuzz.sh [SECONDS] [TARGET...]      (targets as in the build's fuzz_targets.txt)
# Prints a line per target: executions, coverage, and the verdict. A crash, leak, hang or
# undefined behaviour fails the run; the input that found it is left in <build>/artifacts/ and
# belongs, once mended, in fuzz/regressions/<target without fuzz_>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true

scripts/setup.sh --fuzz
dir="${FUZZ_BUILD_DIR:-build-fuzz}"
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja -DQV_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-16 \
  -DCMAKE_C_COMPILER=clang-16 -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF \
  -DQV_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets < "$dir/fuzz_targets.txt"
fi
cmake --build "$dir" --target "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
supp="$PWD/tests/sanitizers"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$supp/lsan.supp print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1 halt_on_error=1}"
mkdir -p "$dir/artifacts" "$dir/logs"

# One target: a fresh working corpus first (libFuzzer adds what it finds there), then the seeds
# and regressions, which it only reads.
fuzz_one() {
  local target="$1" name="${1#fuzz_}"
  local work="$dir/corpus/$name"
  mkdir -p "$work"
  local inputs=("$work")
  for kind in corpus regressions; do
    [ -d "fuzz/$kind/$name" ] && inputs+=("fuzz/$kind/$name")
  done
  "$dir/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/$name-" "${inputs[@]}" \
    >"$dir/logs/$name.log" 2>&1
}

# As many at a time as there are cores; a slot is given again as soon as any target ends.
cores=$(nproc)
declare -A running=()
failed=0
reap() {
  local pid status
  wait -n -p pid "${!running[@]}" && status=0 || status=$?
  if [ "$status" -ne 0 ]; then
    echo "== ${running[$pid]}: FAULT (see $dir/logs/${running[$pid]#fuzz_}.log)"
    failed=1
  fi
  unset "running[$pid]"
}
for target in "${targets[@]}"; do
  [ ${#running[@]} -ge "$cores" ] && reap
  fuzz_one "$target" &
  running[$!]="$target"
done
while [ ${#running[@]} -gt 0 ]; do reap; done

for target in "${targets[@]}"; do
  log="$dir/logs/${target#fuzz_}.log"
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo "?")
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || echo "cov: ?")
  echo "== $target: ${runs} executions in ${seconds} s, ${cov}"
done
if [ "$failed" -ne 0 ]; then
  echo "fuzzing found a fault: the logs above name the input" >&2
  exit 1
fi
