#!/usr/bin/env bash
# Installs what Qopra needs, builds it (and sanitizer builds of the core, and the Debian package from
# a Release build), starts a private cupsd and an X server, runs every test, checks the package, and
# runs each fuzz target for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh
scripts/configure-sanitizer-tree.sh
cmake --build build-asan -j"$(nproc)"
scripts/configure-thread-sanitizer-tree.sh
cmake --build build-tsan -j"$(nproc)"
# The Debian package from a Release build of what it holds; checked below, once the spooler runs.
export QOPRA_PACKAGE
QOPRA_PACKAGE=$(scripts/package.sh)
echo "== dependencies and builds took ${SECONDS} s"

status=0
# Tests never touch the user's home, the system CUPS or the user's display.
scripts/with-test-env.sh bash -c '
status=0
ctest --test-dir build --output-on-failure -j2 --timeout 300 || status=1
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j2 --timeout 300 || status=1
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j2 --timeout 300 || status=1
tests/package/package-test.sh "$QOPRA_PACKAGE" || status=1
exit $status
' || status=1
echo "== tests done after ${SECONDS} s"
scripts/render-icons.sh --check || status=1
# A short run of every fuzz target on its seeds catches regressions; longer campaigns: scripts/fuzz.sh.
scripts/fuzz.sh "${QOPRA_FUZZ_SECONDS:-10}" || status=1
exit $status
