#!/usr/bin/env bash
# Checks a built Debian package without installing it: unpacked into a temporary root with dpkg -x,
# its control fields, its file list, its menu entry, manual pages and service unit must be right,
# and the programs from that root must print, the server started as the unit starts it.
#
#   tests/package/package-test.sh PACKAGE.deb
#
# Prints on the private scheduler named by CUPS_SERVER (tests/rig/cups-rig.sh), on its qopra-pdf
# queue. Exit status 0 when every check passed.
set -euo pipefail

deb=$(realpath "$1")
: "${CUPS_SERVER:?CUPS_SERVER must name the private scheduler (tests/rig/cups-rig.sh)}"

work=$(mktemp -d /tmp/qopra-package.XXXXXX)
server_pid=""
cleanup() {
    if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
        kill -TERM "$server_pid" 2>/dev/null || true
        sleep 1
        kill -KILL "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "package-test: FAILED: $*" >&2
    failures=$((failures + 1))
}
pass() {
    echo "package-test: ok: $*"
}

# --- control fields -----------------------------------------------------------------------------
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg-deb -f "$deb" Architecture)
depends=$(dpkg-deb -f "$deb" Depends)
[ "$(basename "$deb")" = "qopra_${version}_${arch}.deb" ] || fail "file name $(basename "$deb")"
[ "$(dpkg-deb -f "$deb" Package)" = qopra ] || fail "package name"
for needed in p7zip-full cups-client libcups2 libqt6widgets6 adduser; do
    [[ ", $depends," == *", $needed"[\ ,]* ]] || fail "Depends lacks $needed: $depends"
done
pass "control: qopra $version $arch, Depends: $depends"

# --- file list ----------------------------------------------------------------------------------
root=$work/root
dpkg -x "$deb" "$root"
expected=$work/expected
{
    printf '%s\n' ./usr/bin/qopra2 ./usr/bin/qopra-pad \
        ./usr/share/qopra/qopra.xml ./usr/share/qopra/Htm/waiting.htm \
        ./usr/share/applications/qopra2.desktop \
        ./usr/share/man/man1/qopra2.1.gz ./usr/share/man/man1/qopra-pad.1.gz \
        ./usr/lib/systemd/system/qopra.service ./usr/share/doc/qopra/README.md \
        ./usr/share/icons/hicolor/scalable/apps/qopra2.svg
    for name in qopra2-tray qopra2-tray-arrival-1 qopra2-tray-arrival-2; do
        echo "./usr/share/icons/hicolor/scalable/status/$name.svg"
    done
    # Large and HiDPI sizes of the application icon, for menus and launchers that want them.
    for size in 64 128 256; do
        echo "./usr/share/icons/hicolor/${size}x${size}/apps/qopra2.png"
    done
    for size in 16 22 32 48; do
        echo "./usr/share/icons/hicolor/${size}x${size}/apps/qopra2.png"
        for name in qopra2-tray qopra2-tray-arrival-1 qopra2-tray-arrival-2; do
            echo "./usr/share/icons/hicolor/${size}x${size}/status/$name.png"
        done
    done
} | sort >"$expected"
(cd "$root" && find . -type f -o -type l) | sort >"$work/actual"
if diff -u "$expected" "$work/actual"; then
    pass "file list ($(wc -l <"$expected") files)"
else
    fail "file list differs (- expected, + in the package)"
fi
for program in qopra2 qopra-pad; do
    if readelf -S "$root/usr/bin/$program" | grep -q ' \.symtab'; then
        fail "$program is not stripped"
    fi
done

# --- programs, menu entry, icons, manual pages --------------------------------------------------
if [ "$("$root/usr/bin/qopra2" --version)" = "qopra2 $version" ]; then
    pass "qopra2 --version"
else
    fail "qopra2 --version says: $("$root/usr/bin/qopra2" --version 2>&1)"
fi
"$root/usr/bin/qopra-pad" --help | grep -q -- '--server HOST' || fail "qopra-pad --help"

desktop=$root/usr/share/applications/qopra2.desktop
if command -v desktop-file-validate >/dev/null; then
    messages=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$messages" ] || fail "desktop entry: $messages"
fi
[ "$(sed -n 's/^Exec=//p' "$desktop")" = qopra2 ] || fail "desktop entry Exec="
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$root/usr/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "desktop entry Icon=$icon has no icon"
pass "desktop entry"

for page in qopra2 qopra-pad; do
    warnings=$(gzip -dc "$root/usr/share/man/man1/$page.1.gz" | LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 2>&1)
    [ -z "$warnings" ] || fail "$page(1): $warnings"
    gzip -dc "$root/usr/share/man/man1/$page.1.gz" | grep -q "@" && fail "$page(1) has an unfilled @VALUE@"
done
pass "manual pages"

# --- service unit -------------------------------------------------------------------------------
unit=$root/usr/lib/systemd/system/qopra.service
value() { sed -n "s/^$1=//p" "$unit"; }
if command -v systemd-analyze >/dev/null && [ -d /usr/lib/systemd/system ]; then
    # The unit is checked inside the unpacked root; the system's own units stand for the targets.
    cp -a --no-clobber /usr/lib/systemd/system/. "$root/usr/lib/systemd/system/"
    if messages=$(systemd-analyze --root="$root" --man=no verify qopra.service 2>&1) && [ -z "$messages" ]; then
        pass "systemd-analyze verify"
    else
        fail "systemd-analyze verify: $messages"
    fi
else
    echo "package-test: systemd-analyze not here; the unit is not verified"
fi

# The ExecStart line, run as the unit runs it: its environment only, its working folder, its
# state and runtime folders (here inside the work folder), an unprivileged user. The package makes
# the user "qopra" when installed; unpacked, "nobody" stands for it.
state_dir=/var/lib/$(value StateDirectory)
runtime_dir=/run/$(value RuntimeDirectory)
state=$work/state
runtime=$work/runtime
mkdir -p "$state" "$runtime"
chmod 0711 "$work"
chmod 0700 "$runtime"
relocate() {
    local text=$1
    text=${text//$state_dir/$state}
    text=${text//$runtime_dir/$runtime}
    echo "${text//\/usr\/bin\//$root/usr/bin/}"
}
[ "$(value User)" = qopra ] || fail "unit User=$(value User)"
read -r -a environment <<<"$(relocate "$(value Environment)")"
read -r -a command <<<"$(relocate "$(value ExecStart)")"
[ "$(value WorkingDirectory)" = "$state_dir" ] || fail "unit WorkingDirectory"
run_as=()
if [ "$(id -u)" -eq 0 ]; then
    chown nobody:nogroup "$state" "$runtime"
    run_as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
start_server() {
    (cd "$state" && exec "${run_as[@]}" env -i "${environment[@]}" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin CUPS_SERVER="$CUPS_SERVER" \
        "${command[@]}" >"$work/server.out" 2>&1) &
    server_pid=$!
}
stop_server() {
    local status=0
    kill -TERM "$server_pid"
    wait "$server_pid" || status=$?
    server_pid=""
    return $status
}
wait_output() {
    for _ in $(seq 300); do
        grep -q -- "$1" "$work/server.out" && return 0
        sleep 0.1
    done
    return 1
}

# The first start makes the data folder from the installed defaults; the settings are then edited as
# an administrator would, and the service restarted.
start_server
# Port 2001 may be taken on a busy machine; the retry line shows the start went as far.
wait_output "UDP Server: \|Unable to start UDP server" || fail "first start: $(cat "$work/server.out")"
stop_server || fail "the server did not end in order on SIGTERM"
for file in qopra.xml qopra.log Htm/waiting.htm; do
    [ -f "$state/Qopra/$file" ] || fail "data folder lacks $file"
done
udp_port=$((20000 + RANDOM % 20000))
pad_port=$((udp_port + 1))
cat >"$state/Qopra/qopra.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<settings><local_port>$udp_port</local_port><pad_port>$pad_port</pad_port><local_address></local_address><mac></mac><backup>0</backup><printers><printer>qopra-pdf</printer></printers><aliases><alias>qopra-pdf|Office</alias></aliases><lang>en-GB</lang><delay>30000</delay></settings>
EOF
[ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$state/Qopra/qopra.xml"

start_server
if wait_output " is running on port $udp_port"; then
    pdf=$work/check.pdf
    printf '%s\n' '%PDF-1.4' '1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj' \
        '2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj' \
        '3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 595 842]>>endobj' 'trailer<</Root 1 0 R>>' '%%EOF' \
        >"$pdf"
    printf '<html><body><h1>Qopra package check</h1></body></html>\n' >"$work/check.htm"
    for document in "$pdf" "$work/check.htm"; do
        answer=$("$root/usr/bin/qopra-pad" --server localhost --udp-port "$udp_port" --pad-port "$pad_port" \
            --timeout 60 print "$document" --printer Office 2>&1) || true
        if [[ "$answer" == *"RESULT 0 (printed) REASON 0x0 (none)"* ]]; then
            pass "headless print of $(basename "$document") as the service"
        else
            fail "print of $(basename "$document"): $answer"
        fi
    done
    grep -q ": check.pdf.7z printed successfully n.1 copies on qopra-pdf" "$work/server.out" ||
        fail "no print line in the trace"
else
    fail "the service did not start: $(cat "$work/server.out")"
fi
stop_server || fail "the service did not end in order on SIGTERM"
grep -q "received message WM_END_APPLICATION" "$state/Qopra/qopra.log" || fail "no end line in the log"

if [ "$failures" -gt 0 ]; then
    echo "package-test: $failures check(s) failed; the server's output:" >&2
    cat "$work/server.out" >&2
    exit 1
fi
echo "package-test: all checks passed for $(basename "$deb")"
