#!/usr/bin/env bash
# Makes the 64 x 64 generated road-map tiles (16384 x 16384 pixels) into a
# GeoTIFF with overviews with quiltara-make (deflate, then JPEG) and, in the
# same run, with GDAL (gdal_translate -of COG from a VRT mosaic of the tiles,
# deflate with the horizontal predictor, on every core), printing wall time,
# CPU time and peak memory of each. Then checks that our GeoTIFF holds the
# PNG path's pixels, lists what gdalinfo says of its overviews and corners
# beside the PNG's world file, and prints the file sizes. With BENCH_BIG=1 it
# also makes a 65536 x 65536 GeoTIFF (256 x 256 tiles, hard links to the
# generated ones) and shows its gdalinfo.
#
# Usage: bench/geotiff-bench.sh [TILE_DIR] [WORK_DIR]
#   TILE_DIR  tiles made by ../shared/bench/make_tiles.py (made there when empty;
#             needs Debian python3-pil)
#   WORK_DIR  scratch folder for the outputs (default: a fresh folder in /tmp)
# Environment: QUILTARA_BUILD_DIR (default build), QUILTARA_SHARED_DIR (default ../shared),
#              BENCH_SKIP="png jpeg gdal" to leave runs out, BENCH_BIG=1 for the
#              65536 x 65536 run (a few GB of WORK_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${QUILTARA_BUILD_DIR:-$root/build}
shared_dir=${QUILTARA_SHARED_DIR:-$root/../shared}
tiles=$(mkdir -p "${1:-/tmp/quiltara-bench-tiles}" && cd "${1:-/tmp/quiltara-bench-tiles}" && pwd)
work=${2:-$(mktemp -d /tmp/quiltara-geotiff-bench.XXXXXX)}
skip=" ${BENCH_SKIP:-} "
n=64
zoom=12

# shellcheck source=bench/bench-lib.sh
source "$root/bench/bench-lib.sh"
bench_setup gdal_translate gdalinfo
/usr/bin/python3 -c "from osgeo import gdal" 2>/dev/null || { echo "missing: python3-gdal" >&2; exit 1; }

make_map tiff-deflate "$work/ours/bench.tif" --format=tiff
[[ $skip == *" jpeg "* ]] || make_map tiff-jpeg "$work/ours/jpeg.tif" --format=tiff --tiff-compression=jpeg
[[ $skip == *" png "* ]] || make_map png "$work/ours/bench.png"

# GDAL: a VRT mosaic with one source per tile at its place, georeferenced as
# our world file places the map, made into a COG on every core.
if [[ $skip != *" gdal "* ]]; then
    pixel=$(awk -v z=$zoom 'BEGIN { printf "%.12f", 2 * 20037508.342789244 / (256 * 2 ^ z) }')
    write_mosaic_vrt "$work/mosaic.vrt" "<SRS>EPSG:3857</SRS>" \
        "<GeoTransform>-20037508.342789244, $pixel, 0, 20037508.342789244, 0, -$pixel</GeoTransform>"
    run gdal-cog gdal_translate -q -of COG -co COMPRESS=DEFLATE -co PREDICTOR=2 \
        -co NUM_THREADS=ALL_CPUS "$work/mosaic.vrt" "$work/gdal.tif" || true
fi

# The big map: 256 x 256 tiles, each a hard link to one of the 64 x 64.
if [ "${BENCH_BIG:-0}" = 1 ]; then
    big=256
    link_big_tiles "$work/big" $big
    run tiff-65536 "$maker" --tiles=0,0,$((big - 1)),$((big - 1)) --zoom=$zoom --layers=map \
        --template-map='http://127.0.0.1:9/[Z]/[X]/[Y]' --existing=keep --keep-tiles --quiet \
        --output="$work/big/big.tif" --format=tiff
fi

print_results run
echo
echo "file sizes:"
ls -l "$work"/ours/Map_bench.png "$work"/ours/Map_bench.tif "$work"/ours/Map_jpeg.tif "$work"/gdal.tif \
    "$work"/big/Map_big.tif 2>/dev/null | awk '{ printf "%14d  %s\n", $5, $9 }' || true

ours=$work/ours/Map_bench.tif
echo
echo "gdalinfo of ours:"
gdalinfo "$ours" | grep -E "Size is|Overviews|Upper Left|Lower Right|COMPRESSION|LAYOUT" | sort -u
if [ -f "$work/ours/Map_bench.pgw" ]; then
    awk 'NR == 1 { p = $1 } NR == 5 { x = $1 } NR == 6 { y = $1 }
         END { printf "world file of the PNG: upper left (%.3f, %.3f)\n", x - p / 2, y + p / 2 }' \
        "$work/ours/Map_bench.pgw"
fi
[ ! -f "$work/gdal.tif" ] || { echo "gdalinfo of GDAL's:"; gdalinfo "$work/gdal.tif" |
    grep -E "Overviews|Upper Left|LAYOUT" | sort -u; }
if [ -f "$work/big/Map_big.tif" ]; then
    echo "gdalinfo of the 65536 x 65536 map:"
    gdalinfo "$work/big/Map_big.tif" | grep -E "Size is|Overviews|Upper Left|Lower Right" | sort -u
fi

# Same pixels? Compared in strips, so the check itself stays small.
/usr/bin/python3 - "$ours" "$work/ours/Map_bench.png" "$work/ours/Map_jpeg.tif" "$work/gdal.tif" <<'PY'
import os, sys
import numpy as np
from osgeo import gdal
gdal.UseExceptions()
def compare(a_path, b_path):
    a, b = gdal.Open(a_path), gdal.Open(b_path)
    worst, total, pixels = 0, 0.0, 0
    for y in range(0, a.RasterYSize, 1024):
        h = min(1024, a.RasterYSize - y)
        pa = a.ReadAsArray(0, y, a.RasterXSize, h)[:3].astype(np.int16)
        pb = b.ReadAsArray(0, y, b.RasterXSize, h)[:3].astype(np.int16)
        d = np.abs(pa - pb)
        worst, total, pixels = max(worst, int(d.max())), total + float(d.sum()), pixels + d.size
    return worst, total / pixels
tiff, png, jpeg, cog = sys.argv[1:]
for name, other in (("our PNG", png), ("our JPEG GeoTIFF", jpeg), ("GDAL's COG", cog)):
    if os.path.exists(other):
        worst, mean = compare(tiff, other)
        print(f"our deflate GeoTIFF vs {name}: largest difference {worst}, mean {mean:.3f}")
PY
