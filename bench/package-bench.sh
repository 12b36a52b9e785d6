#!/usr/bin/env bash
# Fetches an area from demo-map-server over a range of zooms into an MBTiles
# and a GeoPackage with quiltara-make, under /usr/bin/time -v, and prints for
# each the tiles per zoom (read back with sqlite3), the wall time and the
# peak memory (maximum resident set size). The default area sums to about
# 100,000 tiles over zooms 9 to 16; the second run keeps the tile files the
# first one fetched (--existing=keep), so it measures the package alone.
#
# Usage: bench/package-bench.sh [WORK_DIR]
#   WORK_DIR  scratch folder for the tiles and the packages (default: a fresh
#             folder in /tmp; the 100,000 tile files take about 1 GB)
# Environment: QUILTARA_BUILD_DIR (default build), BENCH_ZOOMS (default 9-16),
#              BENCH_TILES (the area at the deepest zoom, default
#              32768,21000,33041,21273: 274 x 274 tiles), BENCH_JOBS (default 8).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${QUILTARA_BUILD_DIR:-$root/build}
work=${1:-$(mktemp -d /tmp/quiltara-package-bench.XXXXXX)}
zooms=${BENCH_ZOOMS:-9-16}
area=${BENCH_TILES:-32768,21000,33041,21273}
jobs=${BENCH_JOBS:-8}
maker=$build_dir/tools/quiltara-make/quiltara-make
server=$build_dir/tools/demo-map-server/demo-map-server
for tool in "$maker" "$server" /usr/bin/time sqlite3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
mkdir -p "$work"

# The server is ours: it is ended by its PID when the script ends.
coproc SERVER { exec "$server" --port 0 --stop-on-input-end; }
server_pid=$SERVER_PID
trap 'kill "$server_pid" 2>/dev/null || true' EXIT
read -r port <&"${SERVER[0]}"
echo "demo-map-server on port $port; work folder $work"

"$maker" --tiles="$area" --zoom="$zooms" --format=mbtiles -o "$work/area.mbtiles" --dry-run \
    --map-service "127.0.0.1:$port"

# measure NAME FORMAT: one run, its figures and what the package holds.
measure() {
    local name=$1 format=$2
    /usr/bin/time -v "$maker" --tiles="$area" --zoom="$zooms" --format="$format" \
        --jobs="$jobs" --existing=keep --keep-tiles --quiet --map-service "127.0.0.1:$port" \
        -o "$work/area.$format" >"$work/$name.log" 2>"$work/$name.time" || {
        echo "$name failed:" >&2
        tail -5 "$work/$name.log" "$work/$name.time" >&2
        return 1
    }
    local wall rss
    wall=$(sed -n 's/.*Elapsed (wall clock) time.*: //p' "$work/$name.time")
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/$name.time")
    echo
    echo "$name: wall $wall, peak RSS $((rss / 1024)) MB ($rss kB), $(du -h "$work/Map_area.$format" | cut -f1)"
    sqlite3 "$work/Map_area.$format" \
        "SELECT 'zoom ' || zoom_level || ': ' || count(*) FROM tiles GROUP BY zoom_level;
         SELECT 'tiles: ' || count(*) FROM tiles; PRAGMA integrity_check;" | paste -sd' '
}

measure "mbtiles (fetch)" mbtiles
measure "gpkg (kept tiles)" gpkg
