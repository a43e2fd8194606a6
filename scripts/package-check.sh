#!/usr/bin/env bash
# Builds the Debian package in a fresh folder, checks it with lintian (errors
# fail), installs it with apt-get, clips the sample with the installed
# clipra-cli, runs the installed window once unattended under Xvfb as a user
# who cannot write /usr/bin, then removes the package. Needs root or sudo.
#   scripts/package-check.sh [build folder]   (default: build, as scripts/test.sh left it)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

echo "== Building the package in $build"
# A folder that scripts/test.sh configured is built on as it is.
[ -f "$build/CMakeCache.txt" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLIPRA_WERROR=ON >/dev/null
cmake --build "$build"
rm -f "$build"/clipra_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/clipra_*.deb)
deb=$(realpath "$deb")
echo "-- $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
dpkg-deb --contents "$deb" | awk '{print $6}'

echo "== lintian"
desktop-file-validate packaging/clipra.desktop
lintian --fail-on error --info "$deb"

echo "== Installing"
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "$deb" >/dev/null
work=$(mktemp -d)
trap '"${sudo_cmd[@]}" rm -rf "$work"' EXIT
chmod 755 "$work"

echo "== The installed clipra-cli clips the sample"
/usr/bin/clipra-cli --version
/usr/bin/clipra-cli -A500020:6099980:500100:6099920 samples/ortho.ers "$work/clip.ers"
/usr/bin/clipra-cli --info "$work/clip.ers"
man -w clipra-cli clipra >/dev/null
bash -c 'source /usr/share/bash-completion/completions/clipra-cli && complete -p clipra-cli' >/dev/null

echo "== The installed window, unattended under Xvfb, by a user who cannot write /usr/bin"
# nobody's home does not exist: the settings must land in the given one.
home="$work/home"
mkdir -p "$home"
cp samples/ortho.ers samples/ortho "$work/"
chown -R 65534:65534 "$work"
run_as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups
               env HOME="$home" XDG_CONFIG_HOME= QT_QPA_PLATFORM=xcb)
[ "$(id -u)" -eq 0 ] || run_as_nobody=(sudo "${run_as_nobody[@]}")
"${run_as_nobody[@]}" xvfb-run -a /usr/bin/clipra "$work/ortho.ers" "$work/window.tif" \
  /A500020:6099980:500100:6099920 /F
test -s "$work/window.tif"
test -s "$work/window.tfw"
test -s "$home/.config/clipra/clipra.ini"
test ! -e /usr/bin/clipra.ini
echo "-- settings went to ~/.config/clipra/clipra.ini"

echo "== Removing"
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get remove -y -q clipra >/dev/null
! dpkg-query -W -f='${Status}' clipra 2>/dev/null | grep -q 'install ok installed'
test ! -e /usr/bin/clipra-cli
echo "== Package check passed"
