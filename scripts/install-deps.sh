#!/usr/bin/env bash
# Installs every Debian 12 package that building, running, testing and benchmarking need.
# Does nothing when they are all present already.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev
    qt6-base-dev libgl-dev fonts-dejavu-core fonts-liberation2 fonts-wine
    libjpeg62-turbo-dev libjpeg-turbo-progs libgif-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libhivex-dev libhivex-bin libwin-hivex-perl pkg-config
    libwim-dev wimtools libxml2-dev
    wine wine64
    xvfb xauth xfonts-base x11-apps x11-utils xdotool imagemagick liblnk-utils
    desktop-file-utils appstream dpkg-dev lintian
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
