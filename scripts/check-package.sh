#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it: its files are the installed
# files, its dependencies come from the libraries the programs use, and (as root) it installs
# with apt and is removed again without leaving a file behind.
#   scripts/check-package.sh [build folder]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
rm -f "$build"/crestwick_*.deb
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log"; exit 1; }
deb=$(ls "$build"/crestwick_*.deb)
echo "Built $(basename "$deb")"

dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort >"$build/deb-files"
if ! sort "$here/dist/installed-files.txt" | diff -u - "$build/deb-files"; then
    echo "the package's files differ from dist/installed-files.txt"
    exit 1
fi
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libjpeg62-turbo libqt6core6 libqt6gui6 libqt6widgets6 libstdc++6; do
    grep -q "\b$library\b" <<<"$depends" || { echo "Depends lacks $library: $depends"; exit 1; }
done
grep -q "fonts-wine" <<<"$(dpkg-deb -f "$deb" Recommends)" || { echo "Recommends lacks fonts-wine"; exit 1; }
echo "Depends: $depends"

if [ "$(id -u)" -ne 0 ]; then
    echo "not root: the package is not installed and removed"
    exit 0
fi
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$deb" >/dev/null
while read -r file; do
    [ -e "/$file" ] || { echo "the installed package lacks /$file"; exit 1; }
done <"$here/dist/installed-files.txt"
apt-get remove -y -qq crestwick >/dev/null
while read -r file; do
    [ ! -e "/$file" ] || { echo "/$file is left after the package was removed"; exit 1; }
done <"$here/dist/installed-files.txt"
echo "The package installs with apt and is removed without a trace."
