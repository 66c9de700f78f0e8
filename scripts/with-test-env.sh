#!/usr/bin/env bash
# Runs a command inside the test environment: a private HOME and runtime folder, a private cupsd with
# the test queues (CUPS_SERVER set) and an Xvfb display of its own. Everything goes when it ends.
#   scripts/with-test-env.sh ctest --test-dir build -R HeadlessNetwork
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

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

# The server chooses a free display itself and says which: two test environments started at the
# same moment (two worktrees) never share one. It never resets: a server resetting because its last
# client left refuses the next test's program for a moment.
display_file="$HOME/xvfb-display"
Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    sleep 0.1
done
export DISPLAY=":$(head -n 1 "$display_file")"

"$@"
