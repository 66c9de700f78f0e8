#!/usr/bin/env bash
# Builds the Release programs in build-release/ and makes the Debian package there; prints its path.
# Only what the package holds is built (no tests, no benchmarks).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQOPRA_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
# Standard output carries only the package's path.
cmake --build build-release -j"$(nproc)" >&2
(cd build-release && cpack -G DEB >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-release/CMakeCache.txt)
echo "$PWD/build-release/qopra_${version}_$(dpkg --print-architecture).deb"
