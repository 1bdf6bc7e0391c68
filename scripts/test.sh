#!/usr/bin/env bash
# Sets up everything the tests need, builds, and runs every test:
# the full build with all tests, then a sanitizer build (AddressSanitizer and
# UndefinedBehaviorSanitizer) of the libraries without widgets and their tests,
# a ThreadSanitizer build of the same, and a minute of fuzzing the decoder.
# Runs as the user who typed the command (under sudo: $SUDO_USER); root is
# asked for (sudo) only to install packages and the built Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck disable=SC1091
. scripts/lib/privilege.sh
rerun_as_invoking_user scripts/test.sh "$@"
bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

# The Debian package: built, checked, installed and run from /usr/bin.
bash scripts/package-check.sh build

if [ "${QUARVEL_SKIP_SANITIZE:-0}" != 1 ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUARVEL_SANITIZE=ON -DQUARVEL_ONLY_CAPTURE=ON >/dev/null
  cmake --build build-asan -j"$jobs"
  (cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs")
fi

# ThreadSanitizer: the capture engine's threads (relay, decoder, poller) in
# the capture, relay, proxy and headless tests; a report fails the test (exit
# code 66). Qt itself is not built with it: accesses made inside Qt's own
# code are not checked (ignore_noninstrumented_modules), and scripts/tsan.supp
# lists the reports about orderings that Qt makes out of the checker's view.
if [ "${QUARVEL_SKIP_TSAN:-0}" != 1 ]; then
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_SANITIZE=thread -DQUARVEL_ONLY_CAPTURE=ON >/dev/null
  cmake --build build-tsan -j"$jobs"
  (cd build-tsan && TSAN_OPTIONS="suppressions=$PWD/../scripts/tsan.supp ignore_noninstrumented_modules=1 second_deadlock_stack=1" \
     ctest --output-on-failure -j"$jobs")
fi

# The decoder under libFuzzer for a bounded time (scripts/fuzz.sh).
if [ "${QUARVEL_SKIP_FUZZ:-0}" != 1 ]; then
  bash scripts/fuzz.sh 60
fi
