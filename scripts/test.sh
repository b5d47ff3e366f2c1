#!/usr/bin/env bash
# Builds diveconnector against dcsim and runs every test:
#   1. the native and JVM suites against dcsim's 0.9 API, then against its 0.8 API;
#   2. the native suites under AddressSanitizer + UndefinedBehaviorSanitizer, built with GCC and
#      with clang (warnings as errors), and under valgrind;
#   3. the stop tests (interruptions, Ctrl-C, overlapping downloads) and the BLE stream tests
#      under ThreadSanitizer;
#   4. a short run of every fuzz target;
#   5. the Windows x64 cross-build with its export check and tests under wine; with
#      libdivecomputer 0.9.0's archive in ../shared/libdivecomputer, the Windows package against it
#      and its downloads under wine;
#   6. with libdivecomputer's source archives in ../shared/libdivecomputer: the real-library suite
#      against 0.9.0 and 0.8.0, and the listing against the master snapshot;
#   7. every suite once more from a copy of the project alone, with nothing beside it.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=2

stage() { printf '\n== %s\n' "$*"; }

configure() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DDIVECONNECTOR_LIBDIVECOMPUTER=dcsim "$@" >/dev/null
}

for api in 0.9 0.8; do
    stage "Every test, libdivecomputer $api API"
    configure "build/test-$api" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDCSIM_API="$api"
    cmake --build "build/test-$api" -j "$jobs"
    ctest --test-dir "build/test-$api" --output-on-failure -j "$jobs"
done

stage "Native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
configure build/asan -DCMAKE_BUILD_TYPE=Debug -DDIVECONNECTOR_SANITIZE=address
cmake --build build/asan -j "$jobs"
ctest --test-dir build/asan --output-on-failure -j "$jobs" -L native

stage "Native tests built with clang, under AddressSanitizer and UndefinedBehaviorSanitizer"
# The code must stay correct C++ for both compilers; clang's sanitizer also checks enum values.
CC=clang CXX=clang++ configure build/clang -DCMAKE_BUILD_TYPE=Debug \
    -DDIVECONNECTOR_SANITIZE=address -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build build/clang -j "$jobs"
ctest --test-dir build/clang --output-on-failure -j "$jobs" -L native

stage "Native tests under valgrind"
for suite in tests/native/diveaccess_tests tests/native/stop_tests; do
    # The suites replace operator new to fail allocations on purpose; valgrind must leave it be.
    valgrind --quiet --soname-synonyms=somalloc=nouserintercepts --error-exitcode=1 \
        --leak-check=full --errors-for-leak-kinds=definite,indirect \
        "build/test-0.9/$suite" --gtest_brief=1
done

stage "Stop tests and BLE stream tests under ThreadSanitizer"
configure build/tsan -DCMAKE_BUILD_TYPE=Debug -DDIVECONNECTOR_SANITIZE=thread -DDIVECONNECTOR_TESTS=ON
cmake --build build/tsan -j "$jobs" --target stop_tests ble_stream_tests
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/native/stop_tests --gtest_brief=1
TSAN_OPTIONS=halt_on_error=1 tests/ble/private_bus.sh build/tsan/tests/native/ble_stream_tests \
    --gtest_brief=1

stage "Fuzzing, 60 s a target"
scripts/fuzz.sh 60

stage "Windows x64 cross-build"
# With the 0.9.0 archive: also the package against the real libdivecomputer, tested under wine.
windows_started=$SECONDS
windows_source=$(pwd)/../shared/libdivecomputer/libdivecomputer-0.9.0.tar.gz
if [[ -f $windows_source ]]; then
    # USB and USB HID too, with libusb and hidapi built for Windows from their archives.
    usb_sources=("$(dirname "$windows_source")"/libusb-1.*.tar.gz "$(dirname "$windows_source")"/hidapi-*.tar.gz)
    [[ -f ${usb_sources[0]} && -f ${usb_sources[1]} ]] || usb_sources=()
    scripts/windows.sh "$windows_source" "${usb_sources[@]}"
else
    echo "No real Windows package: $windows_source is missing."
    scripts/windows.sh
fi
echo "The Windows stage took $((SECONDS - windows_started)) s."

stage "The real libdivecomputer"
archives=$(pwd)/../shared/libdivecomputer
if [[ ! -d $archives ]]; then
    echo "Skipped: $archives is missing, so there is no real libdivecomputer to build."
else
    started=$SECONDS
    # The releases get the whole suite; the development snapshot, whose table moves, its listing.
    for archive in "$archives"/libdivecomputer-0.9.0.tar.gz "$archives"/libdivecomputer-0.8.0.tar.gz \
                   "$archives"/libdivecomputer-master-*.tar.gz; do
        name=$(basename "$archive" .tar.gz)
        echo "-- $name"
        # Each release in its own prefix: 0.8 and 0.9 both install libdivecomputer.so.0.
        prefix=$(scripts/libdivecomputer.sh --jobs "$jobs" "$archive")
        PKG_CONFIG_PATH=$prefix/lib/pkgconfig cmake -S . -B "build/real/$name" \
            -DDIVECONNECTOR_LIBDIVECOMPUTER=system -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        cmake --build "build/real/$name" -j "$jobs"
        tests=()
        [[ $name == libdivecomputer-master-* ]] && tests=(-R '^real\.Listing')
        ctest --test-dir "build/real/$name" --output-on-failure -j "$jobs" -L real "${tests[@]}"
    done
    echo "The real libdivecomputer stage took $((SECONDS - started)) s."
fi

stage "A copy of the project alone"
alone=$(mktemp -d)
trap 'rm -rf "$alone"' EXIT
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$alone"
(
    cd "$alone"
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j "$jobs"
    ctest --test-dir build --output-on-failure -j "$jobs"
)
