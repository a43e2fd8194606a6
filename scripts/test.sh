#!/usr/bin/env bash
# Builds everything (the window included, warnings as errors) and runs the
# whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLIPRA_WERROR=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j2
