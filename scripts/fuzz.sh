#!/usr/bin/env bash
# Runs every libFuzzer target for SECONDS each (default 60) and prints each one's executions.
# Usage: scripts/fuzz.sh [SECONDS] [BUILD_DIR]. BUILD_DIR (default build-fuzz) is configured
# with clang and built when it has no targets yet. Each target starts from its seeds in
# fuzz/seeds/fuzz_<name> (which keep the inputs of past failures) and its dictionary in
# fuzz/dicts/<name>.dict; what it learns stays in BUILD_DIR/corpus, failures in
# BUILD_DIR/artifacts. Exits non-zero when any target fails.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
dir="${2:-build-fuzz}"

if ! compgen -G "$dir/fuzz/fuzz_*" > /dev/null; then
  mkdir -p "$dir"
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKOVA_FUZZ=ON -DKOVA_TESTS=OFF -DKOVA_BENCH=OFF -DKOVA_SHELL=OFF > "$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; exit 1; }
  cmake --build "$dir" -j "$(nproc)"
fi

failed=()
summary=()
for target in "$dir"/fuzz/fuzz_*; do
  [[ -x "$target" && -f "$target" ]] || continue
  name="$(basename "$target")"
  short="${name#fuzz_}"
  corpus="$dir/corpus/$name"
  mkdir -p "$corpus" "$dir/artifacts"
  args=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$dir/artifacts/$name-")
  [[ -f "fuzz/dicts/$short.dict" ]] && args+=(-dict="fuzz/dicts/$short.dict")
  seeds=()
  [[ -d "fuzz/seeds/$name" ]] && seeds=("fuzz/seeds/$name")
  log="$dir/$name.log"
  status=0
  "$target" "${args[@]}" "$corpus" "${seeds[@]}" > "$log" 2>&1 || status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  if ((status != 0)); then
    failed+=("$name")
    echo "--- $name FAILED (exit $status)"
    grep -E "ERROR|SUMMARY|Test unit written|^[a-z_]+: " "$log" | head -n 20 || true
  fi
  summary+=("$(printf '%-24s %12s executions' "$name" "${runs:-?}")")
done

printf '\n%s\n' "fuzzing, ${seconds}s per target:"
printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
  echo "failed: ${failed[*]} (inputs in $dir/artifacts)"
  exit 1
fi
