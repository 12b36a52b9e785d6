#!/usr/bin/env bash
# Stitches 64 x 64 road-map tiles (16384 x 16384 pixels) from disk into one PNG
# with quiltara-make's streaming stitcher and with its in-memory stitcher
# (--in-memory), and the same tiles with `vips arrayjoin` and with GDAL
# (gdal_translate of a VRT mosaic), printing wall time, CPU time and peak
# memory of each, and whether the images hold the same pixels. With BENCH_BIG=1
# it then streams a 65536 x 65536 map (256 x 256 tiles, hard links to the
# generated ones) and checks that file's zlib stream end to end.
#
# Usage: bench/stitch-bench.sh [TILE_DIR] [WORK_DIR]
#   TILE_DIR  tiles made by ../shared/bench/make_tiles.py (made there when empty;
#             needs Debian python3-pil)
#   WORK_DIR  scratch folder for the outputs (default: a fresh folder in /tmp)
# Environment: QUILTARA_BUILD_DIR (default build), QUILTARA_SHARED_DIR (default ../shared),
#              BENCH_SKIP="in-memory vips gdal" to leave stitchers out,
#              BENCH_BIG=1 for the 65536 x 65536 run (about 13 GB of pixels; the
#              PNG takes a few GB of WORK_DIR), BENCH_PNG_LEVEL=N for --png-level.
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
# The machine is shared: every figure goes out with the load it was taken under.
load() { cut -d' ' -f1-3 /proc/loadavg; }
# run NAME COMMAND...: runs the command under /usr/bin/time and keeps its figures.
run() {
    local name=$1
    shift
    sync
    local before
    before=$(load)
    /usr/bin/time -f "%e %U %S %M" -o "$work/$name.time" "$@" >"$work/$name.log" 2>&1 || {
        echo "$name failed:" >&2
        tail -5 "$work/$name.log" >&2
        return 1
    }
    read -r wall user sys rss <"$work/$name.time"
    results+=("$(awk -v n="$name" -v w="$wall" -v u="$user" -v s="$sys" -v m="$rss" -v l="$before" \
        'BEGIN { printf "%-15s %8.1f s %8.1f s %8.0f MB   %s", n, w, u + s, m / 1024, l }')")
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
level=()
[ -z "${BENCH_PNG_LEVEL:-}" ] || level=(--png-level="$BENCH_PNG_LEVEL")
make_map() { # NAME OUTPUT [OPTIONS...]
    local name=$1 output=$2
    shift 2
    run "$name" "$maker" --tiles=0,0,$((n - 1)),$((n - 1)) --zoom=$zoom --layers=map \
        --template-map='http://127.0.0.1:9/[Z]/[X]/[Y]' --existing=keep --keep-tiles --quiet \
        --output="$output" "$@"
}
make_map streaming "$work/ours/bench.png" "${level[@]}"
ours=$work/ours/Map_bench.png
if [[ $skip != *" in-memory "* ]]; then
    make_map in-memory "$work/ours/memory.png" --in-memory || true
    [ ! -f "$work/ours/Map_memory.png" ] || mv "$work/ours/Map_memory.png" "$work/in-memory.png"
fi

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

# The big map: 256 x 256 tiles, each a hard link to one of the 64 x 64, so
# only the links take room. Streamed only: the in-memory image would be 12 GB.
if [ "${BENCH_BIG:-0}" = 1 ]; then
    big=256
    mkdir -p "$work/big"
    # One process for the 65,536 links: a shell loop of ln would take minutes.
    /usr/bin/python3 - "$tiles" "$work/big" $big $n $zoom <<'PY'
import os, sys
tiles, big, count, n, zoom = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:])
for y in range(count):
    for x in range(count):
        link = f"{big}/Map_x={x}y={y}zoom={zoom}.png"
        if not os.path.exists(link):
            os.link(f"{tiles}/x={x % n}y={y % n}zoom={zoom}.png", link)
PY
    run streaming-65536 "$maker" --tiles=0,0,$((big - 1)),$((big - 1)) --zoom=$zoom --layers=map \
        --template-map='http://127.0.0.1:9/[Z]/[X]/[Y]' --existing=keep --keep-tiles --quiet \
        --output="$work/big/big.png" "${level[@]}"
fi

echo
printf '%-15s %10s %10s %11s   %s\n' "stitcher" "wall" "CPU" "peak RSS" "load before (1, 5, 15 min)"
printf '%s\n' "${results[@]}"
echo
ls -l "$ours" "$work"/in-memory.png "$work"/vips.png "$work"/gdal.png "$work"/big/Map_big.png 2>/dev/null |
    awk '{ printf "%12d  %s\n", $5, $9 }' || true # ls complains of the images left out

# The big file is checked without holding it: every chunk's CRC, the zlib
# stream inflated to its end (which checks its Adler-32) and its length.
if [ -f "$work/big/Map_big.png" ]; then
    /usr/bin/python3 - "$work/big/Map_big.png" <<'PY'
import struct, sys, zlib
f = open(sys.argv[1], "rb")
assert f.read(8) == b"\x89PNG\r\n\x1a\n"
inflater, raw, width, height, chunks = zlib.decompressobj(), 0, 0, 0, []
while True:
    length, kind = struct.unpack(">I4s", f.read(8))
    data = f.read(length)
    assert struct.unpack(">I", f.read(4))[0] == zlib.crc32(kind + data), kind
    if kind == b"IHDR":
        width, height = struct.unpack(">II", data[:8])
    if kind == b"IDAT":
        raw += len(inflater.decompress(data, 0))
    if not chunks or chunks[-1] != kind:
        chunks.append(kind)
    if kind == b"IEND":
        break
assert inflater.eof, "the zlib stream does not end"
print(f"big map: {width} x {height}, chunks {[c.decode() for c in chunks]}, "
      f"inflated {raw} bytes ({'right' if raw == height * (3 * width + 1) else 'WRONG'} length)")
PY
fi

# Same pixels? The largest absolute difference between ours and each other image.
for other in in-memory vips gdal; do
    [ -f "$work/$other.png" ] || continue
    vips subtract "$ours" "$work/$other.png" "$work/diff.v"
    vips abs "$work/diff.v" "$work/absdiff.v"
    echo "largest pixel difference, quiltara vs $other: $(vips max "$work/absdiff.v")"
    rm -f "$work/diff.v" "$work/absdiff.v"
done
