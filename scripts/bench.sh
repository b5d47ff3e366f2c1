#!/usr/bin/env bash
# Builds an optimised diveconnector against dcsim and prints the benchmark figures: the native
# download and parsing, then the whole road through a JVM beside a pure-Java construction of the
# same objects. `--quick` runs small logbooks only. The library's own progress lines are dropped.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/bench -DDIVECONNECTOR_LIBDIVECOMPUTER=dcsim -DCMAKE_BUILD_TYPE=Release \
    -DDIVECONNECTOR_BENCH=ON -DDIVECONNECTOR_TESTS=ON >/dev/null
cmake --build build/bench -j 2 >/dev/null

echo "== Native download and parsing"
build/bench/bench/native_download_bench
echo
echo "== Through the JVM"
build/bench/download-benchmark "$@" >/dev/null
