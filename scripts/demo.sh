#!/usr/bin/env bash
# Builds clipra-cli and clips the bundled sample orthophoto.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCLIPRA_TESTS=OFF -DCLIPRA_BENCH=OFF -DCLIPRA_GUI=OFF >/dev/null
cmake --build build-demo --target clipra-cli
cli=build-demo/app/clipra-cli
mkdir -p out
echo
echo "== The sample:"
"$cli" --info samples/ortho.ers
echo
echo "== Clipping 500020,6099980 .. 500100,6099920 into out/clip.ers:"
"$cli" -A500020:6099980:500100:6099920 samples/ortho.ers out/clip.ers
echo
"$cli" --info out/clip.ers
echo
echo "The clip is in $(pwd)/out/clip.ers (header) and $(pwd)/out/clip (cells)."
