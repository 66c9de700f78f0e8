#!/usr/bin/env bash
# Configures build-tsan: the core and the tests of its threads, built by clang with the thread
# sanitizer. Only those tests are built and run there (see scripts/test.sh): they are where threads meet.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOPRA_GUI=OFF -DQOPRA_SANITIZE_THREAD=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
