#!/usr/bin/env bash
# Configures and builds Quiltara into build/ (or $QUILTARA_BUILD_DIR).
# Extra arguments go to cmake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${QUILTARA_BUILD_DIR:-build}
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S . -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
else
    cmake -S . -B "$build_dir" "$@"
fi
cmake --build "$build_dir" --parallel "${QUILTARA_JOBS:-$(nproc)}"
