#!/usr/bin/env bash
# Pictures of every window, as a person sees them: the real qopra2 on a private X server with a tray
# host, a private CUPS and data folder, one HTML and one PDF sent with qopra-pad, then the tray menu,
# the main window, the trace, history and settings windows opened the way a person opens them. Once in
# English and once in Italian. Also the pictures the window programs draw with sample data.
#   scripts/screenshots.sh            (builds what it needs; pictures in build/screenshots/)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--inside" ]; then
    scripts/build.sh qopra2 qopra-pad qopra-settings-shots qopra-trace-history-shots qopra-documents-shots >/dev/null
    exec scripts/with-test-env.sh "$0" --inside
fi

out=$PWD/build/screenshots
bin=$PWD/build/bin
mkdir -p "$out"
work=$(mktemp -d)
chmod 700 "$work"
trap 'kill ${qopra:-} ${second:-} ${tray:-} 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/qopra-settings-shots" "$out" >/dev/null
"$bin/qopra-trace-history-shots" "$out" >/dev/null
"$bin/qopra-documents-shots" "$out" >/dev/null

trayer --edge top --align right --widthtype pixel --width 160 --height 32 --expand false &
tray=$!
sleep 1

# The tray icon's window, docked in the tray host: its position on the screen.
icon_position() {
    xwininfo -root -tree | awk '/"Qopra": \("qopra2" "qopra2"\)/ { split($NF, p, "+"); print p[2], p[3]; exit }'
}
# The windows carry the program's name after a dash that xdotool's name search does not read
# reliably: each visible window's name is asked for.
window_of() {
    for w in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
        if xdotool getwindowname "$w" 2>/dev/null | grep -Eq "$1"; then
            echo "$w"
            return 0
        fi
    done
}
wait_window() {
    for _ in $(seq 100); do
        id=$(window_of "$1")
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}
shoot() { sleep 0.7; import -window "$1" "$out/$2.png"; echo "wrote $out/$2.png"; }
tray_menu() {
    read -r x y < <(icon_position)
    xdotool mousemove $((x + 11)) $((y + 15)) click 3
    sleep 0.7
}

for lang in en-GB it-IT; do
    suffix=${lang%%-*}
    data="$work/$suffix"
    rm -rf "$data"
    mkdir -p "$data/Qopra/Htm"
    cp build/share/qopra/Htm/waiting.htm "$data/Qopra/Htm/"
    port=$(( 20000 + RANDOM % 20000 ))
    cat >"$data/Qopra/qopra.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<settings><local_port>$port</local_port><pad_port>$((port + 1))</pad_port><local_address></local_address>
<mac></mac><backup>1</backup><printers><printer>qopra-null</printer><printer>qopra-pdf</printer></printers>
<aliases><alias>qopra-pdf|Office</alias></aliases><lang>$lang</lang><delay>30000</delay>
<notify_printed>0</notify_printed></settings>
XML
    XDG_DATA_HOME="$data" XDG_RUNTIME_DIR="$data" XDG_CONFIG_HOME="$data/config" "$bin/qopra2" \
        >"$data/out.txt" 2>&1 &
    qopra=$!
    for _ in $(seq 100); do [ -n "$(icon_position)" ] && break; sleep 0.1; done

    printf '%%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj 2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj 3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]>>endobj\ntrailer<</Root 1 0 R>>\n%%%%EOF\n' >"$data/Invoice.pdf"
    cat >"$data/Welcome.htm" <<'HTML'
<html><body style="font-family: sans-serif; margin: 2em">
<h1>Welcome to Qopra</h1><p>This page was sent from a tablet and printed on the office printer.</p>
<ul><li>Printed through CUPS</li><li>Kept in the history</li></ul></body></html>
HTML
    # The main window before any document: the state of the service is all there is to see.
    read -r x y < <(icon_position)
    xdotool mousemove $((x + 11)) $((y + 15)) click 1
    main=$(wait_window "print service|stampa")
    shoot "$main" "main-state-$suffix"

    pad=("$bin/qopra-pad" --udp-port "$port" --pad-port "$((port + 1))" --timeout 30)
    "${pad[@]}" print "$data/Invoice.pdf" --printer Office >/dev/null 2>&1 || true
    "${pad[@]}" print "$data/Welcome.htm" --printer qopra-null --copies 2 >/dev/null 2>&1 || true
    sleep 1

    # The tray menu, then OPEN by a double click on the icon.
    tray_menu
    import -window root -crop 420x260+860+0 "$out/tray-menu-$suffix.png"
    echo "wrote $out/tray-menu-$suffix.png"
    xdotool key Escape
    read -r x y < <(icon_position)
    xdotool mousemove $((x + 11)) $((y + 15)) click --repeat 2 --delay 80 1
    main=$(wait_window "print service|stampa")
    shoot "$main" "main-$suffix"

    # The trace window: the key sequence typed in the main window shows its button (the first).
    xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus "$main"
    xdotool type --window "$main" --delay 30 53814026
    eval "$(xdotool getwindowgeometry --shell "$main")"
    xdotool mousemove --window "$main" 40 $((HEIGHT - 20)) click 1
    trace=$(wait_window "^Trace( |$)")
    shoot "$trace" "trace-window-$suffix"

    # History and settings from the tray menu, by the keyboard.
    tray_menu
    xdotool key Down Down Return
    history=$(wait_window "^(ARCHIVE|ARCHIVIO)( |$)")
    shoot "$history" "history-window-$suffix"
    tray_menu
    xdotool key Down Down Down Return
    settings=$(wait_window "^(Settings|Impostazioni)( |$)")
    shoot "$settings" "settings-window-$suffix"
    import -window root "$out/desktop-$suffix.png"
    echo "wrote $out/desktop-$suffix.png"

    # A second copy (a data folder of its own) on the same port, offering a printer that is no queue:
    # what keeps it from serving is told on the screen, here as a balloon of its own, as this display
    # has no notification service.
    problem="$work/problem-$suffix"
    mkdir -p "$problem/Qopra"
    cat >"$problem/Qopra/qopra.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<settings><local_port>$port</local_port><pad_port>$((port + 1))</pad_port><printers><printer>Front-desk</printer>
</printers><lang>$lang</lang></settings>
XML
    XDG_DATA_HOME="$problem" XDG_RUNTIME_DIR="$problem" XDG_CONFIG_HOME="$problem/config" "$bin/qopra2" \
        >"$problem/out.txt" 2>&1 &
    second=$!
    sleep 2
    balloon=$(wait_window "^(Qopra cannot serve|Qopra non può)")
    shoot "$balloon" "notification-$suffix"
    import -window root "$out/notification-desktop-$suffix.png"
    echo "wrote $out/notification-desktop-$suffix.png"
    kill "$second"
    wait "$second" || true

    # A pen drive with two documents plugged in: a FAT image filled elsewhere, moved below /media
    # (mounting needs root; without it this picture is left out).
    if [ "$(id -u)" = 0 ] && command -v fusefat >/dev/null; then
        truncate -s 8M "$work/stick-$suffix.img"
        mkfs.vfat "$work/stick-$suffix.img" >/dev/null
        mkdir -p "$work/stick-$suffix" "/media/qopra-shots-$suffix"
        fusefat -o rw+ "$work/stick-$suffix.img" "$work/stick-$suffix" >/dev/null
        sleep 0.5
        for doc in "DOC1|Pad Office|Invoice 2026-117|invoice.htm|20261208093012|2" \
                   "DOC2|Pad Scan|Delivery note 5521|delivery.pdf|20261208101502|1"; do
            IFS='|' read -r folder app description file datetime copies <<<"$doc"
            mkdir -p "$work/stick-$suffix/Ferrulo/$folder"
            printf '<?xml version="1.0" encoding="utf-8"?>\r\n<document>\r\n<description>%s</description>\r\n<application>%s</application>\r\n<filename>%s</filename>\r\n<datetime>%s</datetime>\r\n<copies>%s</copies>\r\n<printed>0</printed>\r\n</document>\r\n' \
                "$description" "$app" "$file" "$datetime" "$copies" >"$work/stick-$suffix/Ferrulo/$folder/printinfo.xml"
            cp "$data/Welcome.htm" "$work/stick-$suffix/Ferrulo/$folder/$file"
        done
        mount --move "$work/stick-$suffix" "/media/qopra-shots-$suffix"
        documents=$(wait_window "removable|rimovibili")
        shoot "$documents" "documents-plugged-$suffix"
        umount "/media/qopra-shots-$suffix" || umount -l "/media/qopra-shots-$suffix"
        rmdir "/media/qopra-shots-$suffix"
    fi

    kill "$qopra"
    wait "$qopra" || true
    qopra=""
done
