#!/usr/bin/env bash
# Configures and builds nompack into build/ (warnings are errors).
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
if command -v ccache >/dev/null 2>&1; then
  # Paths relative to the checkout, so that another clone reuses the cache.
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNOMPACK_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build build -j"$(nproc)"
