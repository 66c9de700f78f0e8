#!/usr/bin/env bash
# Installs the Debian packages Qopra needs to build, run and test. Quick when all are there.
set -euo pipefail

packages=(
    cmake ninja-build g++ make
    qt6-base-dev qt6-webengine-dev qt6-pdf-dev
    libcups2-dev cups cups-client cups-bsd cups-filters
    libpugixml-dev p7zip-full
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth fonts-noto-cjk iproute2 ghostscript poppler-utils desktop-file-utils
    clang libclang-rt-14-dev
    trayer xdotool x11-utils imagemagick libxcb1-dev
    dpkg-dev desktop-file-utils groff-base librsvg2-bin
    w3c-sgml-lib fusefat dosfstools
    dbus-daemon openbox
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
    $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi
