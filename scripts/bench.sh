#!/usr/bin/env bash
# Builds an optimised diveconnector against dcsim and prints the benchmark figures: the native
# download and parsing, the BLE stream's own cost (BLE builds), then the whole road through a JVM
# beside a pure-Java construction of the same objects, with the dive details beside without, and
# a 2,000-dive logbook with its details in a small heap. `--quick` runs small logbooks only. The
# library's own progress lines are dropped.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/bench -DDIVECONNECTOR_LIBDIVECOMPUTER=dcsim -DCMAKE_BUILD_TYPE=Release \
    -DDIVECONNECTOR_BENCH=ON -DDIVECONNECTOR_TESTS=ON >/dev/null
cmake --build build/bench -j 2 >/dev/null

echo "== Native download and parsing"
build/bench/bench/native_download_bench
echo
if [[ -x build/bench/bench/ble_stream_bench ]]; then
    echo "== The BLE stream over a mock BlueZ, beside an in-memory stream"
    tests/ble/private_bus.sh build/bench/bench/ble_stream_bench
    echo
fi
echo "== Through the JVM"
build/bench/download-benchmark "$@" >/dev/null
echo
echo "== A 2,000-dive logbook with its details in a 256 MiB heap"
BENCH_JVM_OPTIONS=-Xmx256m build/bench/download-benchmark --logbook 2000 360 2 >/dev/null
