#!/usr/bin/env bash
# Runs the stress tests (CTest label "stress") with their full counts: 1000 downloads interrupted
# at random moments, 100 Ctrl-C cancellations in child JVMs, 50 rounds of two simultaneous
# downloads. A plain ctest run uses reduced counts (150, 10, 5).
#
#   scripts/stress.sh [BUILD_DIR]       (default: build, configured against dcsim)
#
# Counts may be overridden: DIVECONNECTOR_STRESS_DOWNLOADS, DIVECONNECTOR_STRESS_CANCELLATIONS,
# DIVECONNECTOR_STRESS_ROUNDS.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
export DIVECONNECTOR_STRESS_DOWNLOADS=${DIVECONNECTOR_STRESS_DOWNLOADS:-1000}
export DIVECONNECTOR_STRESS_CANCELLATIONS=${DIVECONNECTOR_STRESS_CANCELLATIONS:-100}
export DIVECONNECTOR_STRESS_ROUNDS=${DIVECONNECTOR_STRESS_ROUNDS:-50}
ctest --test-dir "$build" --output-on-failure -L stress
