#!/usr/bin/env bash
# Renders the PNG icons in resources/icons/<size>/ from their SVG sources (needs rsvg-convert, Debian
# package librsvg2-bin). Run it after changing an SVG and commit the PNGs with it; with --check it
# only says whether the committed PNGs are what the SVGs give.
set -euo pipefail
cd "$(dirname "$0")/../resources/icons"
sizes=(16 22 32 48)
# The application icon also comes large, for the desktop's big and HiDPI icons.
large_sizes=(64 128 256)
check=false
[ "${1:-}" = --check ] && check=true
status=0
for svg in *.svg; do
    name=${svg%.svg}
    wanted=("${sizes[@]}")
    [ "$name" = qopra2 ] && wanted+=("${large_sizes[@]}")
    for size in "${wanted[@]}"; do
        png="${size}x${size}/$name.png"
        if $check; then
            if ! rsvg-convert -w "$size" -h "$size" "$svg" | cmp -s - "$png"; then
                echo "render-icons: $png is not what $svg gives; run scripts/render-icons.sh" >&2
                status=1
            fi
        else
            mkdir -p "${size}x${size}"
            rsvg-convert -w "$size" -h "$size" "$svg" -o "$png"
        fi
    done
done
exit $status
