#!/usr/bin/env bash
# Stitches 64 x 64 road-map tiles (16384 x 16384 pixels) from disk into one PNG
# with quiltara-make, and the same tiles with `vips arrayjoin` and with GDAL
# (gdal_translate of a VRT mosaic), printing wall time, CPU time and peak
# memory of each, and whether the three images hold the same pixels.
#
# Usage: bench/stitch-bench.sh [TILE_DIR] [WORK_DIR]
#   TILE_DIR  tiles made by ../shared/bench/make_tiles.py (made there when empty;
#             needs Debian python3-pil)
#   WORK_DIR  scratch folder for the outputs (default: a fresh folder in /tmp)
# Environment: QUILTARA_BUILD_DIR (default build), QUILTARA_SHARED_DIR (default ../shared),
#              BENCH_SKIP="vips gdal" to leave tools out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${QUILTARA_BUILD_DIR:-$root/build}
shared_dir=${QUILTARA_SHARED_DIR:-$root/../shared}
tiles=$(mkdir -p "${1:-/tmp/quiltara-bench-tiles}" && cd "${1:-/tmp/quiltara-bench-tiles}" && pwd)
work=${2:-$(mktemp -d /tmp/quiltara-stitch-bench.XXXXXX)}
skip=" ${BENCH_SKIP:-} "
n=64
zoom=12

maker=$(find "$build_dir" -name quiltara-make -type f -perm -u+x | head -1)
[ -n "$maker" ] || { echo "quiltara-make is not built under $build_dir" >&2; exit 1; }
for tool in /usr/bin/time vips gdal_translate; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

count=$(find "$tiles" -maxdepth 1 -name "x=*y=*zoom=$zoom.png" 2>/dev/null | wc -l)
if [ "$count" -ne $((n * n)) ]; then
    echo "making the tiles in $tiles ..."
    /usr/bin/python3 "$shared_dir/bench/make_tiles.py" "$tiles"
fi
mkdir -p "$work"
echo "tiles: $tiles ($(du -sh "$tiles" | cut -f1)); outputs: $work"

results=()
# run NAME COMMAND...: runs the command under /usr/bin/time and keeps its figures.
run() {
    local name=$1
    shift
    sync
    /usr/bin/time -f "%e %U %S %M" -o "$work/$name.time" "$@" >"$work/$name.log" 2>&1 || {
        echo "$name failed:" >&2
        tail -5 "$work/$name.log" >&2
        return 1
    }
    read -r wall user sys rss <"$work/$name.time"
    results+=("$(awk -v n="$name" -v w="$wall" -v u="$user" -v s="$sys" -v m="$rss" \
        'BEGIN { printf "%-10s %8.1f s %8.1f s %8.0f MB", n, w, u + s, m / 1024 }')")
}

# Ours: the tiles under the road map layer's names in the output folder, kept
# as they are (--existing=keep), so the run fetches nothing and only stitches.
mkdir -p "$work/ours"
for ((y = 0; y < n; y++)); do
    for ((x = 0; x < n; x++)); do
        ln -f "$tiles/x=${x}y=${y}zoom=$zoom.png" "$work/ours/Map_x=${x}y=${y}zoom=$zoom.png" 2>/dev/null ||
            cp "$tiles/x=${x}y=${y}zoom=$zoom.png" "$work/ours/Map_x=${x}y=${y}zoom=$zoom.png"
    done
done
run quiltara "$maker" --tiles=0,0,$((n - 1)),$((n - 1)) --zoom=$zoom --layers=map \
    --template-map='http://127.0.0.1:9/[Z]/[X]/[Y]' --existing=keep --keep-tiles --quiet \
    --output="$work/ours/bench.png"
ours=$work/ours/Map_bench.png

# vips: the tiles in row order, $n across. The list is one argument, which
# must stay under the kernel's 128 KB limit: names relative to the tile folder.
if [[ $skip != *" vips "* ]]; then
    list=()
    for ((y = 0; y < n; y++)); do
        for ((x = 0; x < n; x++)); do list+=("x=${x}y=${y}zoom=$zoom.png"); done
    done
    pushd "$tiles" >/dev/null
    run vips vips arrayjoin "${list[*]}" "$work/vips.png" --across $n || true
    popd >/dev/null
fi

# GDAL: a VRT mosaic with one source per tile at its place.
if [[ $skip != *" gdal "* ]]; then
    size=$((n * 256))
    {
        echo "<VRTDataset rasterXSize=\"$size\" rasterYSize=\"$size\">"
        for band in 1 2 3; do
            echo "  <VRTRasterBand dataType=\"Byte\" band=\"$band\">"
            for ((y = 0; y < n; y++)); do
                for ((x = 0; x < n; x++)); do
                    echo "    <SimpleSource><SourceFilename relativeToVRT=\"0\">$tiles/x=${x}y=${y}zoom=$zoom.png</SourceFilename><SourceBand>$band</SourceBand><SrcRect xOff=\"0\" yOff=\"0\" xSize=\"256\" ySize=\"256\"/><DstRect xOff=\"$((x * 256))\" yOff=\"$((y * 256))\" xSize=\"256\" ySize=\"256\"/></SimpleSource>"
                done
            done
            echo "  </VRTRasterBand>"
        done
        echo "</VRTDataset>"
    } >"$work/mosaic.vrt"
    run gdal gdal_translate -q -of PNG "$work/mosaic.vrt" "$work/gdal.png" || true
fi

echo
printf '%-10s %10s %10s %11s\n' "stitcher" "wall" "CPU" "peak RSS"
printf '%s\n' "${results[@]}"
echo
ls -l "$ours" "$work"/vips.png "$work"/gdal.png 2>/dev/null | awk '{ printf "%12d  %s\n", $5, $9 }'

# Same pixels? The largest absolute difference between ours and each other image.
for other in vips gdal; do
    [ -f "$work/$other.png" ] || continue
    vips subtract "$ours" "$work/$other.png" "$work/diff.v"
    vips abs "$work/diff.v" "$work/absdiff.v"
    echo "largest pixel difference, quiltara vs $other: $(vips max "$work/absdiff.v")"
    rm -f "$work/diff.v" "$work/absdiff.v"
done
