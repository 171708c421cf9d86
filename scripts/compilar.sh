#!/usr/bin/env bash
# Configures and builds everything (programs, tests, benchmarks) in build/.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"
compilacion="${ZENTU_BUILD:-$raiz/build}"
extra=()
command -v ccache >/dev/null && extra+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [ ! -f "$compilacion/build.ninja" ]; then
  cmake -S "$raiz" -B "$compilacion" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}"
fi
cmake --build "$compilacion" -j "${ZENTU_JOBS:-$(nproc)}"
