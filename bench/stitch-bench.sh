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

# shellcheck source=bench/bench-lib.sh
source "$root/bench/bench-lib.sh"
bench_setup vips gdal_translate

level=()
[ -z "${BENCH_PNG_LEVEL:-}" ] || level=(--png-level="$BENCH_PNG_LEVEL")
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
    write_mosaic_vrt "$work/mosaic.vrt"
    run gdal gdal_translate -q -of PNG "$work/mosaic.vrt" "$work/gdal.png" || true
fi

# The big map: 256 x 256 tiles, each a hard link to one of the 64 x 64, so
# only the links take room. Streamed only: the in-memory image would be 12 GB.
if [ "${BENCH_BIG:-0}" = 1 ]; then
    big=256
    link_big_tiles "$work/big" $big
    run streaming-65536 "$maker" --tiles=0,0,$((big - 1)),$((big - 1)) --zoom=$zoom --layers=map \
        --template-map='http://127.0.0.1:9/[Z]/[X]/[Y]' --existing=keep --keep-tiles --quiet \
        --output="$work/big/big.png" "${level[@]}"
fi

print_results stitcher
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
