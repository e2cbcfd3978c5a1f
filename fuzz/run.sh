#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, ASan and UBSan and runs each for SECONDS
# (default 60); names after SECONDS run only those targets. Crashes are left as crash-*
# files under build/fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake -S . -B build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=Debug -DVORLUND_FUZZ=ON -DVORLUND_SANITIZE=ON \
      -DVORLUND_BUILD_TESTS=OFF >/dev/null
targets=(vorlund_fuzz_convert vorlund_fuzz_mime vorlund_fuzz_fixed_point vorlund_fuzz_address
         vorlund_fuzz_html_charset vorlund_fuzz_xml vorlund_fuzz_certificate vorlund_fuzz_pfx
         vorlund_fuzz_message vorlund_fuzz_unwrap)
# Names after SECONDS pick some of the targets.
if [ $# -gt 1 ]; then targets=("${@:2}"); fi
cmake --build build/fuzz -j2 --target "${targets[@]}"
status=0
for target in "${targets[@]}"; do
  dir=build/fuzz/findings/$target
  mkdir -p "$dir/corpus"
  echo "== $target for ${seconds}s"
  (cd "$dir" && ../../fuzz/"$target" corpus -max_total_time="$seconds" -rss_limit_mb=2048 \
      -print_final_stats=1) || status=1
done
exit $status
