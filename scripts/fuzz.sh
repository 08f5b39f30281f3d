#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz", clang with libFuzzer and the
# address and undefined-behaviour sanitizers) and runs each for SECONDS
# (default 5) from its seed corpus in fuzz/corpus/. What the fuzzer finds
# on the way goes to a scratch folder, never into the repository; an input
# that fails is kept in build-fuzz/artifacts/ and the script fails.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   targets: mask_engine data_packet param_markers call_request
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-5}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(mask_engine data_packet param_markers call_request)

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake --preset fuzz "${launcher[@]}" >/dev/null
cmake --build --preset fuzz

mkdir -p build-fuzz/artifacts
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in "${targets[@]}"; do
  mkdir -p "$scratch/$target"
  echo "fuzz_$target: ${seconds} s"
  if ! ./build-fuzz/bin/fuzz_"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$target-" \
      "$scratch/$target" "fuzz/corpus/$target" >"$scratch/$target.log" 2>&1; then
    tail -n 40 "$scratch/$target.log"
    echo "fuzz_$target failed; the input is in build-fuzz/artifacts/" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$scratch/$target.log" || tail -n 2 "$scratch/$target.log"
done
