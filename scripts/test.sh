#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs every test: the plain
# build, the same suite under AddressSanitizer + UndefinedBehaviorSanitizer, the
# threaded suites under ThreadSanitizer, a build without SDL and ALSA with the
# suites a headless host relies on, and each fuzz target for a fixed time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh

jobs=$(nproc)
fuzz_seconds=${TAVOLEN_FUZZ_SECONDS:-20}
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT

# A compiler cache, where the machine has one, spares rebuilding what an
# earlier run or another clone already compiled; paths are made relative to the
# clone so that any clone can use what another one compiled.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=true
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

configure_and_build() {  # dir, target, extra cmake args...
  local dir=$1 target=$2; shift 2
  cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" --target "$target"
}

run_ctest() {  # dir, extra ctest args...
  local dir=$1; shift
  local log="$dir/ctest.log"
  set +e
  tests/rig/run.sh ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300 "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  grep -E '^[0-9]+% tests passed' "$log" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+)/\1 \2/' >> "$summary" || true
  return $rc
}

status=0

echo "== plain build"
configure_and_build build all -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_ctest build || status=1

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
configure_and_build build-asan all -DCMAKE_BUILD_TYPE=Debug -DTAVOLEN_SANITIZE=address,undefined -DTAVOLEN_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_ctest build-asan || status=1

echo "== ThreadSanitizer (threaded suites)"
configure_and_build build-tsan all -DCMAKE_BUILD_TYPE=Debug -DTAVOLEN_SANITIZE=thread -DTAVOLEN_BENCH=OFF
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
  run_ctest build-tsan -L threaded || status=1

echo "== without SDL and ALSA: what a headless host builds and relies on"
configure_and_build build-headless headless_suites -DCMAKE_BUILD_TYPE=Debug \
  -DTAVOLEN_SDL=OFF -DTAVOLEN_ALSA=OFF -DTAVOLEN_BENCH=OFF
if ldd build-headless/src/libtavolen.so | grep -E 'libSDL2|libasound'; then
  echo "libtavolen.so built without SDL and ALSA still links them"
  status=1
fi
run_ctest build-headless -L headless || status=1

echo "== fuzz targets, ${fuzz_seconds}s each"
CC=clang CXX=clang++ configure_and_build build-fuzz fuzzers -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVOLEN_FUZZ=ON -DTAVOLEN_SANITIZE=address,undefined -DTAVOLEN_BENCH=OFF -DTAVOLEN_TESTS=OFF
fuzz_passed=0
fuzz_failed=0
for target in build-fuzz/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=$(mktemp -d)
  seeds="fuzz/corpus/${name%_fuzz}"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/
  if "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -timeout=10 \
       -artifact_prefix="build-fuzz/$name-" "$corpus" > "build-fuzz/$name.log" 2>&1; then
    echo "fuzz $name: ok ($(grep -Eo '#[0-9]+' "build-fuzz/$name.log" | tail -1) runs)"
    fuzz_passed=$((fuzz_passed + 1))
  else
    echo "fuzz $name: FAILED"; tail -40 "build-fuzz/$name.log"
    fuzz_failed=$((fuzz_failed + 1)); status=1
  fi
  rm -rf "$corpus"
done

failed=$(awk '{f += $1} END {print f + 0}' "$summary")
total=$(awk '{t += $2} END {print t + 0}' "$summary")
passed=$((total - failed + fuzz_passed))
failed=$((failed + fuzz_failed))
echo "tests: $passed passed, $failed failed"
exit $status
