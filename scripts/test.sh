#!/usr/bin/env bash
# Installs what Qopra needs, builds it (and a sanitizer build of the core), starts a private cupsd and
# an X server, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh
scripts/build.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQOPRA_GUI=OFF -DQOPRA_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)"

# Tests never touch the user's home, the system CUPS or the user's display.
export HOME="$root/build/test-home"
rm -rf "$HOME"
mkdir -p "$HOME"
export XDG_RUNTIME_DIR="$HOME/runtime"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
unset XDG_DATA_HOME XDG_CONFIG_HOME

cleanup() {
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    tests/rig/cups-rig.sh stop "$root/build/cups" >/dev/null 2>&1 || true
}
trap cleanup EXIT

eval "$(tests/rig/cups-rig.sh start "$root/build/cups")"

display=""
for n in $(seq 90 120); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        display=":$n"
        break
    fi
done
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done

status=0
ctest --test-dir build --output-on-failure -j2 --timeout 300 || status=1
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j2 --timeout 300 || status=1
# A short run of every fuzz target on its seeds catches regressions; longer campaigns: scripts/fuzz.sh.
scripts/fuzz.sh "${QOPRA_FUZZ_SECONDS:-20}" || status=1
exit $status
