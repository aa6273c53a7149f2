#!/usr/bin/env bash
# Sets up the machine, then builds and runs every test: the normal build
# with a short load-and-fault run of the program, the same tests built with
# AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of each
# fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --tests

jobs=$(nproc)
status=0

echo "== build and test (build/)"
bash scripts/build.sh build -DSITOWIAK_BENCH=ON
(cd build && ctest --output-on-failure -j "$jobs") || status=1

echo "== load-and-fault run, short (build/)"
bash bench/load/run.sh build --short || status=1

echo "== build and test with ASan + UBSan (build-asan/)"
bash scripts/build.sh build-asan -DSITOWIAK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$jobs") || status=1

if [ -f fuzz/CMakeLists.txt ]; then
    echo "== fuzz targets, briefly (build-fuzz/)"
    cmake -S . -B build-fuzz -G Ninja -DSITOWIAK_FUZZ=ON -DSITOWIAK_TESTS=OFF \
        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build-fuzz -j "$jobs" --target fuzzers
    bash fuzz/run-all.sh build-fuzz "${FUZZ_SECONDS:-20}" || status=1
fi

exit $status
