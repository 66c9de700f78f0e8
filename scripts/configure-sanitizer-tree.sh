#!/usr/bin/env bash
# Configures build-asan: the core, its tests and the fuzz targets, built by clang with the address and
# undefined-behaviour sanitizers (the tests and the fuzz targets share one build of the core).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOPRA_GUI=OFF -DQOPRA_SANITIZE=ON \
    -DQOPRA_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
