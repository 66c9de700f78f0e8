#!/usr/bin/env bash
# Desktop program figures: time from start to the tray icon docked and to the discovery port bound,
# and the memory of the program and its browser-engine processes, idle and after one HTML print.
# Needs an X server with a tray host and the private spooler: run inside the test environment,
#   scripts/with-test-env.sh bench/desktop-start.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
work=$(mktemp -d)
trap 'kill "${qopra:-}" "${tray:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
chmod 700 "$work"
port=$(( 20000 + RANDOM % 20000 ))
pad_port=$(( port + 1 ))
mkdir -p "$work/Qopra/Htm"
cp build/share/qopra/Htm/waiting.htm "$work/Qopra/Htm/"
cat >"$work/Qopra/qopra.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<settings><local_port>$port</local_port><pad_port>$pad_port</pad_port><local_address></local_address>
<mac></mac><backup>0</backup><printers><printer>qopra-null</printer></printers><aliases></aliases>
<lang>en-GB</lang><delay>30000</delay></settings>
XML

trayer --edge top --align right --widthtype pixel --width 160 --height 32 --expand false &
tray=$!
sleep 1

now_ms() { date +%s%3N; }
start=$(now_ms)
XDG_DATA_HOME="$work" XDG_RUNTIME_DIR="$work" "$bin/qopra2" >"$work/out.txt" 2>&1 &
qopra=$!
docked="" listening=""
for _ in $(seq 3000); do
    if [ -z "$listening" ] && ss -Hluan "sport = :$port" | grep -q .; then listening=$(( $(now_ms) - start )); fi
    if [ -z "$docked" ] && xwininfo -root -tree | grep -q '"qopra2": ("qopra2" "qopra2")'; then
        docked=$(( $(now_ms) - start ))
    fi
    [ -n "$docked" ] && [ -n "$listening" ] && break
    sleep 0.01
done
echo "start to discovery port bound: ${listening:-never} ms; start to tray icon docked: ${docked:-never} ms"

# Resident memory of the program and every process it started (the browser engine's).
memory() {
    local pids total_rss=0 total_pss=0
    pids="$qopra $(pgrep -d ' ' -P "$qopra" || true)"
    for child in $(pgrep -P "$qopra" || true); do pids="$pids $(pgrep -d ' ' -P "$child" || true)"; done
    for pid in $pids; do
        rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
        pss=$(awk '/^Pss:/ {print $2}' "/proc/$pid/smaps_rollup" 2>/dev/null || echo 0)
        total_rss=$(( total_rss + ${rss:-0} )); total_pss=$(( total_pss + ${pss:-0} ))
    done
    echo "$(echo $pids | wc -w) processes, RSS $(( total_rss / 1024 )) MiB, PSS $(( total_pss / 1024 )) MiB"
}
sleep 3
echo "idle: $(memory)"
echo '<html><body><h1>Benchmark page</h1><p>One page of text.</p></body></html>' >"$work/page.htm"
"$bin/qopra-pad" --udp-port "$port" --pad-port "$pad_port" --timeout 30 --raw \
    print "$work/page.htm" --printer qopra-null >"$work/pad.txt" 2>&1 || true
echo "HTML print: $(tail -c 40 "$work/pad.txt")"
sleep 3
echo "after one HTML print: $(memory)"
