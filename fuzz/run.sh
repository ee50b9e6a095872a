#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time on seeds made
# from the project's own files (and the metafiles of its sample documents, when the
# demo has made them). A crash, a leak or a time-out fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo > build-fuzz.configure.log 2>&1 \
  || { cat build-fuzz.configure.log; exit 1; }
cmake --build build-fuzz -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tools/lsan.supp
seeds=build-fuzz/seeds
rm -rf "$seeds"; mkdir -p "$seeds"/{emf,bmp,settings,cmdline,pdfpages}
build-fuzz/make_seeds "$seeds/emf" "$seeds/bmp"
cp build/demo/emf/*.emf "$seeds/emf/" 2>/dev/null || true
printf 'Source=/in/*.doc?\r\nTarget=/out/\r\nSubdir=1\r\nThreadsCount=$1F\r\nIsOverwrite=skip\r\n' > "$seeds/settings/project"
printf -- '-P:Source=/in/*.doc?;Target=/out/,Subdir=1' > "$seeds/cmdline/options"
printf -- '/home/a.batch-lumipix' > "$seeds/cmdline/project"
# A page as LibreOffice's PDF reader reports it: the text part's length in two bytes, the text, then a PPM.
ops='setPageNum 1
startPage 10000 10000
updateCtm 100 0 0 -100 0 10000
saveState
eoClipPath subpath 1 0 0 0 50 0 0 50 50 0 0 50 0
updateFont 1 1 0 0 0 1200 0 ABCDEF+DejaVuSans-Bold
drawChar 10 50 18 50 1 0 0 1 12 A
drawChar 18 50 22 50 1 0 0 1 12 \\
updateLineDash 0 2 6 3
strokePath subpath 0 1 1 0 9 9 0 5 5 1 6 6 1 7 7 0
updateCtm 1000 0 0 -1000 0 1000
drawImage 1 1 0 PPM 14
restoreState
endPage
'
{ printf "\\x$(printf %02x $((${#ops} % 256)))\\x$(printf %02x $((${#ops} / 256)))"; printf '%s' "$ops"; printf 'P6\n1 1\n255\n\xff\x00\x00'; } > "$seeds/pdfpages/page"
for target in emf bmp settings cmdline pdfpages; do
  echo "fuzzing $target for $seconds s"
  mkdir -p "build-fuzz/corpus-$target"
  if ! build-fuzz/fuzz_$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -artifact_prefix="build-fuzz/$target-" -print_final_stats=1 "build-fuzz/corpus-$target" "$seeds/$target" \
      > "build-fuzz/$target.log" 2>&1; then
    tail -40 "build-fuzz/$target.log"
    echo "fuzz_$target found a fault"
    exit 1
  fi
  grep -E "^(Done|stat::peak_rss_mb)" "build-fuzz/$target.log" || true
done
