#!/usr/bin/env bash
# The main job on the bundled offline map service: installs what is needed,
# builds, starts demo-map-server on a free port, makes a map of a sample area
# for all four layers with quiltara-make, prints where the images are, and
# stops the server again.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${QUILTARA_SKIP_INSTALL:-0}" != 1 ]; then
    bash scripts/install-deps.sh
fi
bash scripts/build.sh
build_dir=${QUILTARA_BUILD_DIR:-build}

server=$(find "$build_dir" -name demo-map-server -type f -perm -u+x 2>/dev/null | head -1)
maker=$(find "$build_dir" -name quiltara-make -type f -perm -u+x 2>/dev/null | head -1)
if [ -z "$server" ] || [ -z "$maker" ]; then
    echo "Quiltara is built, but the map maker is not there yet:"
    [ -n "$server" ] || echo "  missing: demo-map-server (the offline map service)"
    [ -n "$maker" ] || echo "  missing: quiltara-make (the headless map maker)"
    exit 0
fi
exec bash scripts/make-sample-map.sh "$server" "$maker"
