#!/usr/bin/env bash
# Makes the Debian package the way the README says, from a fresh clone of the current commit,
# and checks it: lintian reports nothing at error or warning level, its files are exactly the
# installed files (no test data), its dependencies come from the libraries the programs use,
# and (as root) it installs with apt and is removed again without leaving a file behind.
#   scripts/check-package.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
work="$here/build-package"
rm -rf "$work"
mkdir -p "$work"
git clone -q --no-checkout "$here" "$work/crestwick"
git -C "$work/crestwick" checkout -q "$(git -C "$here" rev-parse HEAD)"
cd "$work/crestwick"

# The README's steps, as written; without a display run.sh shows the program under Xvfb.
env -u DISPLAY bash run.sh >"$work/run.log" 2>&1 || { tail -40 "$work/run.log"; exit 1; }
(cd build && cpack -G DEB) >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$PWD"/build/crestwick_*.deb)
echo "Built $(basename "$deb")"

# The package is the maker's, not an upload to Debian's archive: its first change log entry
# closes no request-for-packaging bug.
lintian --fail-on error,warning --suppress-tags initial-upload-closes-no-bugs "$deb" 2>/dev/null ||
    { echo "lintian finds fault with the package"; exit 1; }

dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort >"$work/deb-files"
if ! sort dist/installed-files.txt | diff -u - "$work/deb-files"; then
    echo "the package's files differ from dist/installed-files.txt"
    exit 1
fi
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libjpeg62-turbo libqt6core6 libqt6gui6 libqt6widgets6 libstdc++6 libwim15 \
    libxml2; do
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
done <dist/installed-files.txt
apt-get remove -y -qq crestwick >/dev/null
while read -r file; do
    [ ! -e "/$file" ] || { echo "/$file is left after the package was removed"; exit 1; }
done <dist/installed-files.txt
echo "The package installs with apt and is removed without a trace."
