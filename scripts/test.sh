#!/usr/bin/env bash
# Builds diveconnector against dcsim and runs every test: the native and JVM suites, then the
# native suite again under AddressSanitizer + UndefinedBehaviorSanitizer and the stop tests under
# ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=2

configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DDIVECONNECTOR_LIBDIVECOMPUTER=dcsim "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

echo "== Build and run every test"
configure_and_build build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build/test --output-on-failure -j "$jobs"

echo "== Native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DDIVECONNECTOR_SANITIZE=address
ctest --test-dir build/asan --output-on-failure -j "$jobs" -L native

echo "== Stop tests under ThreadSanitizer"
configure_and_build build/tsan -DCMAKE_BUILD_TYPE=Debug -DDIVECONNECTOR_SANITIZE=thread
ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L stops
