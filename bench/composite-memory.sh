#!/usr/bin/env bash
# Peak memory of a composite map: quiltara-make fetches 64 x 64 tiles of the
# satellite and hybrid layers (16384 x 16384 pixels each) from demo-map-server
# (hybrid tiles with colours under their transparent pixels) and streams the
# satellite image, the hybrid image and the hybrid laid over the satellite
# into PNGs; then it makes the same three as GeoTIFFs from the tiles kept on
# disk, and as RGBA PNGs (--overlay alpha). Prints wall time, CPU time and
# peak RSS of each run (the target: at most 96 MB) and the images' sizes.
#
# Usage: bench/composite-memory.sh [WORK_DIR]
#   WORK_DIR  scratch folder for the tiles and images (default: a fresh folder
#             in /tmp, removed afterwards; about 1.5 GB while it runs)
# Environment: QUILTARA_BUILD_DIR (default build), BENCH_JOBS (connections, default 4).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${QUILTARA_BUILD_DIR:-$root/build}
keep_work=${1:+yes}
work=${1:-$(mktemp -d /tmp/quiltara-composite-bench.XXXXXX)}
mkdir -p "$work/out"
n=64
zoom=8
first=64 # tiles 64..127 of zoom 8: land and sea of the demo's world

# shellcheck source=bench/bench-lib.sh
source "$root/bench/bench-lib.sh"
maker=$build_dir/tools/quiltara-make/quiltara-make
server=$build_dir/tools/demo-map-server/demo-map-server
for tool in "$maker" "$server" /usr/bin/time; do
    [ -x "$tool" ] || { echo "missing: $tool (build first)" >&2; exit 1; }
done

server_pid=
cleanup() {
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    [ -n "$keep_work" ] || rm -rf "$work"
}
trap cleanup EXIT
"$server" --port 0 --hidden-colours >"$work/port" 2>/dev/null &
server_pid=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -n 1 "$work/port")

last=$((first + n - 1))
# composite NAME OUTPUT [OPTIONS...]: the two layers and their composite.
composite() {
    local name=$1 output=$2
    shift 2
    run "$name" "$maker" --tiles=$first,$first,$last,$last --zoom=$zoom \
        --layers=satellite,hybrid --composite=satellite+hybrid \
        --map-service=127.0.0.1:"$port" --jobs="${BENCH_JOBS:-4}" \
        --existing=keep --keep-tiles --quiet --output="$output" "$@"
}

composite png-fetched "$work/out/bench.png"
composite png-from-disk "$work/out/again.png"
composite tiff-from-disk "$work/out/bench.tif" --format=tiff
composite png-alpha "$work/out/alpha.png" --overlay=alpha

print_results composite
echo
ls -l "$work"/out/*_bench.png "$work"/out/*_bench.tif "$work"/out/*_alpha.png |
    awk '{ printf "%12d  %s\n", $5, $9 }'
