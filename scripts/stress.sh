#!/usr/bin/env bash
# Runs the stress tests (CTest label "stress") with their full counts: 1000 downloads interrupted
# at random moments, 100 Ctrl-C cancellations in child JVMs, 50 rounds of two simultaneous
# downloads; and the JSON writer's check of every float bit pattern, which takes hours on two
# loaded cores. A plain ctest run uses reduced counts (150, 10, 5, every 4099th float).
#
#   scripts/stress.sh [BUILD_DIR]       (default: build, configured against dcsim)
#
# Counts may be overridden: DIVECONNECTOR_STRESS_DOWNLOADS, DIVECONNECTOR_STRESS_CANCELLATIONS,
# DIVECONNECTOR_STRESS_ROUNDS, DIVECONNECTOR_FLOAT_STRIDE.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
export DIVECONNECTOR_STRESS_DOWNLOADS=${DIVECONNECTOR_STRESS_DOWNLOADS:-1000}
export DIVECONNECTOR_STRESS_CANCELLATIONS=${DIVECONNECTOR_STRESS_CANCELLATIONS:-100}
export DIVECONNECTOR_STRESS_ROUNDS=${DIVECONNECTOR_STRESS_ROUNDS:-50}
export DIVECONNECTOR_FLOAT_STRIDE=${DIVECONNECTOR_FLOAT_STRIDE:-1}
ctest --test-dir "$build" --output-on-failure -L stress
