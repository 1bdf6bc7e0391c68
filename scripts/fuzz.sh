#!/usr/bin/env bash
# Fuzzes the protocol decoder for a bounded time (seconds, default 60) with
# AddressSanitizer, UndefinedBehaviorSanitizer and leak detection, built by
# clang with libFuzzer in build-fuzz/. The seeds are the conversations of the
# decoder tests; what the fuzzer finds on its way is kept in
# build-fuzz/fuzz-corpus for the next run. Fails on a crash, a sanitizer
# report or a leak, and leaves the input that caused it in build-fuzz/
# (crash-*, leak-*, timeout-*): replay it with build-fuzz/tests/decoder/fuzz_decoder <file>.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=$(nproc 2>/dev/null || echo 2)

CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_FUZZ=ON -DQUARVEL_ONLY_CAPTURE=ON >/dev/null
cmake --build build-fuzz -j"$jobs" --target fuzz_decoder tst_mysqldecoder

cd build-fuzz
rm -rf fuzz-seeds
mkdir -p fuzz-seeds fuzz-corpus
QUARVEL_FUZZ_SEEDS="$PWD/fuzz-seeds" ASAN_OPTIONS=detect_leaks=0 \
  tests/decoder/tst_mysqldecoder -silent conversations splitAnywhere
echo "fuzz seeds: $(ls fuzz-seeds | wc -l)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  tests/decoder/fuzz_decoder -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  fuzz-corpus fuzz-seeds
