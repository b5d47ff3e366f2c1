#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60) on a copy of its
# seed corpus in tests/fuzz/corpus. Fails if any of them finds a crash, a leak or a timeout; the
# input that did it is left in build/fuzz/run/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/fuzz.sh [SECONDS]" >&2
    exit 2
fi
build=build/fuzz
targets=(scenario_fuzzer rawdive_fuzzer profile_fuzzer)

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDIVECONNECTOR_LIBDIVECOMPUTER=dcsim -DDIVECONNECTOR_FUZZ=ON -DDIVECONNECTOR_TESTS=OFF \
    >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]}"

failed=()
for target in "${targets[@]}"; do
    run="$build/run/$target"
    rm -rf "$run"
    mkdir -p "$run/corpus"
    cp -R "tests/fuzz/corpus/$target/." "$run/corpus/"
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$run/")
    if [[ -f tests/fuzz/$target.dict ]]; then
        options+=(-dict="tests/fuzz/$target.dict")
    fi
    echo "== $target for $seconds s"
    if ! "$build/tests/fuzz/$target" "${options[@]}" "$run/corpus" >"$run/log" 2>&1; then
        tail -n 60 "$run/log"
        echo "== $target FAILED; the input is in $run/" >&2
        failed+=("$target")
        continue
    fi
    grep -E '^#[0-9]+[[:space:]]+DONE|^stat::peak_rss_mb' "$run/log"
done

if ((${#failed[@]} > 0)); then
    echo "Fuzzing found faults in: ${failed[*]}" >&2
    exit 1
fi
echo "Fuzzing found no fault in ${targets[*]}"
