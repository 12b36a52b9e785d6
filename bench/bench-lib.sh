# Sourced by the stitch and GeoTIFF benchmarks: finding the tools, making the
# generated tiles, timing each run, and the inputs both feed to quiltara-make
# and GDAL. Expects root, build_dir, shared_dir, tiles, work, n and zoom set.

# bench_setup TOOL...: quiltara-make found as $maker, the tools there, the
# n x n tiles made in $tiles when missing, and $work/ours holding them under
# the road map layer's tile names.
bench_setup() {
    maker=$(find "$build_dir" -name quiltara-make -type f -perm -u+x | head -1)
    [ -n "$maker" ] || { echo "quiltara-make is not built under $build_dir" >&2; exit 1; }
    local tool
    for tool in /usr/bin/time "$@"; do
        command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
    done
    local count
    count=$(find "$tiles" -maxdepth 1 -name "x=*y=*zoom=$zoom.png" 2>/dev/null | wc -l)
    if [ "$count" -ne $((n * n)) ]; then
        echo "making the tiles in $tiles ..."
        /usr/bin/python3 "$shared_dir/bench/make_tiles.py" "$tiles"
    fi
    mkdir -p "$work/ours"
    echo "tiles: $tiles ($(du -sh "$tiles" | cut -f1)); outputs: $work"
    # Kept as they are (--existing=keep), so a run fetches nothing and only stitches.
    local x y
    for ((y = 0; y < n; y++)); do
        for ((x = 0; x < n; x++)); do
            ln -f "$tiles/x=${x}y=${y}zoom=$zoom.png" "$work/ours/Map_x=${x}y=${y}zoom=$zoom.png" 2>/dev/null ||
                cp "$tiles/x=${x}y=${y}zoom=$zoom.png" "$work/ours/Map_x=${x}y=${y}zoom=$zoom.png"
        done
    done
}

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
        'BEGIN { printf "%-16s %8.1f s %8.1f s %8.0f MB   %s", n, w, u + s, m / 1024, l }')")
}
# print_results TITLE: the table of every run's figures.
print_results() {
    echo
    printf '%-16s %10s %10s %11s   %s\n' "$1" "wall" "CPU" "peak RSS" "load before (1, 5, 15 min)"
    printf '%s\n' "${results[@]}"
}

# make_map NAME OUTPUT [OPTIONS...]: quiltara-make stitching the tiles of $work/ours.
make_map() {
    local name=$1 output=$2
    shift 2
    run "$name" "$maker" --tiles=0,0,$((n - 1)),$((n - 1)) --zoom=$zoom --layers=map \
        --template-map='http://127.0.0.1:9/[Z]/[X]/[Y]' --existing=keep --keep-tiles --quiet \
        --output="$output" "$@"
}

# write_mosaic_vrt FILE [LINE...]: a GDAL VRT mosaic with one source per tile
# at its place; the lines (a georeference) go before the bands.
write_mosaic_vrt() {
    local file=$1 size=$((n * 256)) band x y
    shift
    {
        echo "<VRTDataset rasterXSize=\"$size\" rasterYSize=\"$size\">"
        [ $# -eq 0 ] || printf '  %s\n' "$@"
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
    } >"$file"
}

# link_big_tiles DIR COUNT: COUNT x COUNT road map tiles in DIR, each a hard
# link to one of the n x n, so only the links take room. One process for
# the 65,536 links: a shell loop of ln would take minutes.
link_big_tiles() {
    mkdir -p "$1"
    /usr/bin/python3 - "$tiles" "$1" "$2" $n $zoom <<'PY'
import os, sys
tiles, big, count, n, zoom = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:])
for y in range(count):
    for x in range(count):
        link = f"{big}/Map_x={x}y={y}zoom={zoom}.png"
        if not os.path.exists(link):
            os.link(f"{tiles}/x={x % n}y={y % n}zoom={zoom}.png", link)
PY
}
