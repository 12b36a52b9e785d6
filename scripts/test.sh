#!/usr/bin/env bash
# Installs what Quiltara needs, builds it and runs every test (unit, integration, gui).
# Set QUILTARA_SKIP_INSTALL=1 to skip the package step on a machine that has it.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${QUILTARA_SKIP_INSTALL:-0}" != 1 ]; then
    bash scripts/install-deps.sh
fi
bash scripts/build.sh "$@"
build_dir=${QUILTARA_BUILD_DIR:-build}
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
ctest --test-dir "$build_dir" --output-on-failure --parallel "${QUILTARA_JOBS:-$(nproc)}"
