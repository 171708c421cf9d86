#!/usr/bin/env bash
# Configures and builds everything (programs, tests, benchmarks) in build/.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"
compilacion="${ZENTU_BUILD:-$raiz/build}"
extra=()
command -v ccache >/dev/null && extra+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Paths under the checkout hash the same from any folder it is cloned to, so a second checkout
# reuses the compiler cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$raiz}"
if [ ! -f "$compilacion/build.ninja" ]; then
  cmake -S "$raiz" -B "$compilacion" -G Ninja -DCMAKE_BUILD_TYPE=Release "${extra[@]}"
fi
# A header that gains Q_OBJECT after the first build is not seen by AUTOMOC until its stamp goes.
find "$compilacion" -path '*_autogen/timestamp' -delete 2>/dev/null || true
cmake --build "$compilacion" -j "${ZENTU_JOBS:-$(nproc)}"
