#!/bin/sh
# Builds the libFuzzer targets with clang and fuzzes each for a while.
# Usage: fuzz/run.sh [seconds-per-target [build-folder]]
# TARGETS="wave_append" fuzzes only the targets named.
# Needs clang and its libFuzzer runtime (Debian: clang libclang-rt-14-dev).
# New inputs go to <build-folder>/fuzz-corpus, crashes to <build-folder>/fuzz-findings.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-300}
build=${2:-"$here/build-fuzz"}
"$here/scripts/apt-install-missing.sh" clang libclang-rt-14-dev
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCLICKTRACK_FUZZ=ON \
  -DCLICKTRACK_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target settings_reader_fuzz tempo_map_reader_fuzz wave_append_fuzz line_map_reader_fuzz \
  cue_merge_fuzz
mkdir -p "$build/fuzz-findings"
status=0
for target in ${TARGETS:-settings_reader tempo_map_reader wave_append line_map_reader cue_merge}; do
  mkdir -p "$build/fuzz-corpus/$target"
  echo "== $target: $seconds s"
  "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
    -dict="$here/fuzz/$target.dict" -artifact_prefix="$build/fuzz-findings/$target-" \
    "$build/fuzz-corpus/$target" "$here/fuzz/corpus/$target" || status=1
done
exit $status
