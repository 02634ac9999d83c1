#!/usr/bin/env bash
# Builds the parsers' fuzz targets with clang (libFuzzer, address + undefined-behaviour sanitizers)
# in their own build directory and runs each for SECONDS (default 20), one after the other.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     e.g. scripts/fuzz.sh 600 monitorLine
#
# A target is fuzz/targets/NAME.cpp; its seeds are fuzz/corpus/NAME/ (only read), an optional
# dictionary fuzz/dict/NAME.dict. What the fuzzer learns goes to BUILD/fuzz-work/NAME/corpus and is
# kept for the next run; a failing input is saved in BUILD/fuzz-work/NAME/ and printed with the
# command that replays it. The script ends with status 1 when any target failed.
#
# Environment: FUZZ_BUILD (default build-fuzz), FUZZ_JOBS (build jobs, default: the processor
# count), FUZZ_MAX_LEN (longest input, default 4096), FUZZ_NICE (niceness, default 10).
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH=${1:-20}
shift || true
BUILD=${FUZZ_BUILD:-build-fuzz}
JOBS=${FUZZ_JOBS:-$(nproc 2>/dev/null || echo 2)}
MAX_LEN=${FUZZ_MAX_LEN:-4096}
NICE=${FUZZ_NICE:-10}

./scripts/deps.sh --fuzz
cmake -S . -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++ -DBUILD_FUZZ=ON -DBUILD_TESTING=OFF \
      -DSANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target fuzzers

if [ $# -gt 0 ]; then
  TARGETS=("$@")
else
  TARGETS=()
  for f in fuzz/targets/*.cpp; do TARGETS+=("$(basename "$f" .cpp)"); done
fi

# The monitor target keeps a shared-memory segment under this key file; a run that crashed leaves
# it behind, so it is removed after every run (the same key as ftok(file, 'M')).
remove_segment() {
  local file=$1
  [ -e "$file" ] || return 0
  local ino dev
  read -r ino dev < <(stat -c '%i %d' "$file")
  ipcrm -M $(( (0x4D << 24) | ((dev & 0xff) << 16) | (ino & 0xffff) )) 2>/dev/null || true
  rm -f "$file"
}

# A long session's memory grows by the sanitizer's quarantine and the allocator's caches (the
# targets' own code runs in constant memory): libFuzzer's default limit of 2 GB is reached after
# some ten million runs of requestForm, so the limit is twice that.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

failed=()
summary=()
for name in "${TARGETS[@]}"; do
  exe="$BUILD/fuzz/fuzz_$name"
  [ -x "$exe" ] || { echo "no fuzz target $name" >&2; exit 2; }
  work="$BUILD/fuzz-work/$name"
  mkdir -p "$work/corpus"
  dict=()
  [ -f "fuzz/dict/$name.dict" ] && dict=(-dict="fuzz/dict/$name.dict")
  echo "=== $name: ${SECONDS_EACH} s"
  status=0
  FUZZ_KEY_FILE="$PWD/$work/segment.key" nice -n "$NICE" "$exe" \
      -max_total_time="$SECONDS_EACH" -max_len="$MAX_LEN" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="$work/" "${dict[@]}" "$work/corpus" "fuzz/corpus/$name" >"$work/log" 2>&1 || status=$?
  remove_segment "$work/segment.key"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
  if [ "$status" -ne 0 ]; then
    failed+=("$name")
    summary+=("$name: FAILED after ${runs:-?} runs")
    tail -n 40 "$work/log"
    artifact=$(ls -t "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* 2>/dev/null | head -n 1 || true)
    if [ -n "$artifact" ]; then
      echo "failing input: $artifact"
      echo "replay: $exe $artifact"
      echo "keep it: cp $artifact fuzz/corpus/$name/ (the test suite then replays it)"
    fi
  else
    summary+=("$name: ${runs:-?} runs, no failure")
  fi
done

echo "=== fuzzing, ${SECONDS_EACH} s per target"
printf '  %s\n' "${summary[@]}"
echo "fuzz: $(( ${#TARGETS[@]} - ${#failed[@]} )) passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
