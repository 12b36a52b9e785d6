#!/usr/bin/env bash
# The main job on the bundled offline map service: installs what is needed,
# builds, and starts demo-map-server on a free port. With a display, it then
# starts the desktop program with every request for the map service's
# addresses sent to that server, and stops the server when the program ends.
# Without one, it makes a map of a sample area for all four layers with the
# headless quiltara-make and prints where the images are.
# QUILTARA_DEMO=headless makes the sample map even when a display is there.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${QUILTARA_SKIP_INSTALL:-0}" != 1 ]; then
    bash scripts/install-deps.sh
fi
bash scripts/build.sh
build_dir=${QUILTARA_BUILD_DIR:-build}

server=$(find "$build_dir" -name demo-map-server -type f -perm -u+x 2>/dev/null | head -1)
maker=$(find "$build_dir" -name quiltara-make -type f -perm -u+x 2>/dev/null | head -1)
desktop=$(find "$build_dir" -name quiltara -type f -perm -u+x 2>/dev/null | head -1)

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${QUILTARA_DEMO:-}" != headless ] &&
    [ -n "$server" ] && [ -n "$desktop" ]; then
    echo "A display is available: starting the desktop program on the offline map service."
    source scripts/demo-server.sh
    start_demo_server "$server"
    echo "demo-map-server listens on 127.0.0.1:$port; every request for the map service's"
    echo "host names goes there. Press \"1. Goto Google maps...\" in the Toolbar panel to begin:"
    echo "\"Go\" opens the map service's site; \"Offline demo (demo-map-server, path-style tiles)\""
    echo "at the end of the list opens the same tiles as a {z}/{x}/{y} tile source instead."
    status=0
    "$desktop" --map-service "127.0.0.1:$port" || status=$?
    exit $status
fi

if [ -z "$server" ] || [ -z "$maker" ]; then
    echo "Quiltara is built, but the map maker is not there yet:"
    [ -n "$server" ] || echo "  missing: demo-map-server (the offline map service)"
    [ -n "$maker" ] || echo "  missing: quiltara-make (the headless map maker)"
    exit 0
fi
if [ "${QUILTARA_DEMO:-}" = headless ]; then
    echo "Making a sample map with the headless map maker (QUILTARA_DEMO=headless)."
else
    echo "No display: making a sample map with the headless map maker instead of the desktop program."
fi
exec bash scripts/make-sample-map.sh "$server" "$maker"
