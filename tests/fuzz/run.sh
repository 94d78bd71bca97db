#!/usr/bin/env bash
# Builds the fuzz targets with clang in ROOT/build-fuzz and runs each for SECONDS, two at a
# time. A crash, a leak or any sanitizer report fails the run and leaves the input that caused
# it in build-fuzz/artifacts/. The seeds in tests/fuzz/corpus/ are read, never written: what
# the fuzzer learns stays in build-fuzz/corpus/.
#   run.sh ROOT [SECONDS] [TARGET...]
set -euo pipefail
root=$(cd "${1:?usage: run.sh ROOT [SECONDS] [TARGET...]}" && pwd)
seconds=${2:-300}
shift $(($# < 2 ? $# : 2))
build=$root/build-fuzz
all=(list_file list_syntax copy_count text_bytes job_name)
targets=("${@:-${all[@]}}")

cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2 >/dev/null

run_one() {
  local name=$1 work=$build/corpus/$1 seeds=$root/tests/fuzz/corpus/$1
  mkdir -p "$work" "$build/artifacts"
  # Each corpus folder must exist for libFuzzer to read it.
  [ -d "$seeds" ] || seeds=$work
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/bin/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
    "$work" "$seeds" >"$build/$name.log" 2>&1
}

failed=()
pids=()
names=()
finish_one() {
  local pid=$1 name=$2
  if wait "$pid"; then
    echo "fuzz $name: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$build/$name.log" \
      | grep -o '[0-9]*$') inputs in ${seconds}s, no finding"
  else
    echo "fuzz $name: FAILED (log: $build/$name.log)"
    tail -n 40 "$build/$name.log"
    failed+=("$name")
  fi
}
for name in "${targets[@]}"; do
  run_one "$name" &
  pids+=($!)
  names+=("$name")
  if [ ${#pids[@]} -eq 2 ]; then
    finish_one "${pids[0]}" "${names[0]}"
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for i in "${!pids[@]}"; do
  finish_one "${pids[$i]}" "${names[$i]}"
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzz failures: ${failed[*]}"; exit 1; }
