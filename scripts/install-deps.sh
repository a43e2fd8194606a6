#!/usr/bin/env bash
# Installs the Debian packages that Clipra needs. Usage:
#   scripts/install-deps.sh demo   what building clipra-cli needs
#   scripts/install-deps.sh test   everything: the window, tests, interop tools, sanitizers, fuzzers
set -euo pipefail

demo=(g++ cmake ninja-build libjpeg62-turbo-dev libtiff-dev)
test=("${demo[@]}" googletest libgtest-dev libbenchmark-dev qt6-base-dev libgl-dev
      gdal-bin python3-gdal libjpeg-turbo-progs libtiff-tools imagemagick
      clang-14 libclang-rt-14-dev xvfb xauth xdotool x11-apps locales
      lintian desktop-file-utils dpkg-dev file)

case "${1:-test}" in
  demo) wanted=("${demo[@]}") ;;
  test) wanted=("${test[@]}") ;;
  *) echo "usage: $0 demo|test" >&2; exit 2 ;;
esac

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The tests run parts of the program under a real comma locale.
if [ "${1:-test}" = test ] && ! locale -a 2>/dev/null | grep -qix 'de_DE.utf-\?8'; then
  echo "Generating the de_DE.UTF-8 locale"
  "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
