#!/usr/bin/env bash
# Makes a map of a sample area (central London at zoom 13) for all four layers
# on the bundled offline map service, and its road map once more from the
# shipped path-style tile source: starts demo-map-server on a free port,
# runs quiltara-make against it, prints where the images are, and stops the
# server again, however the script ends.
#
# Usage: scripts/make-sample-map.sh DEMO_MAP_SERVER QUILTARA_MAKE [OUTPUT_DIR]
#   OUTPUT_DIR defaults to demo-output/ in the current folder.
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: $0 DEMO_MAP_SERVER QUILTARA_MAKE [OUTPUT_DIR]" >&2
    exit 2
fi
server=$1
maker=$2
out=${3:-demo-output}
mkdir -p "$out"
out=$(cd "$out" && pwd)

source "$(dirname "$0")/demo-server.sh"
start_demo_server "$server"
echo "demo-map-server listens on port $port"

# The templates of the real service's paths, on the offline service's hosts;
# *.localhost reaches 127.0.0.1 without any name server.
roads="http://mt[SRVINDEX].google.localhost:$port"
photos="http://khm[SRVINDEX].google.localhost:$port"
status=0
"$maker" --box=-0.16,51.49,-0.08,51.52 --zoom=13 --layers=all \
    --template-map="$roads/vt/v=w2.97&hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]" \
    --template-satellite="$photos/kh/v=50&x=[X]&y=[Y]&z=[Z]&s=[SERVER]" \
    --template-terrain="$roads/vt/v=w2p.115&hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]" \
    --template-hybrid="$roads/vt/lyrs=h@115&hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]" \
    --existing=overwrite --delete-tiles --output="$out/sample.png" </dev/null || status=$?
# The same area from the shipped tile source of the offline service, whose
# tiles have {z}/{x}/{y} addresses, as most tile services' do.
"$maker" --source offline-demo --map-service "127.0.0.1:$port" --box=-0.16,51.49,-0.08,51.52 \
    --zoom=13 --layers=map --existing=overwrite --delete-tiles \
    --output="$out/path-style.png" </dev/null || status=$?

echo
found=0
for image in "$out"/Map_sample.png "$out"/Sat_sample.png "$out"/Ter_sample.png \
    "$out"/Hyb_sample.png "$out"/Map_path-style.png; do
    if [ -f "$image" ]; then
        [ $found -eq 0 ] && echo "The map images:"
        echo "  $image"
        found=$((found + 1))
    fi
done
if [ $found -eq 0 ]; then
    echo "No map image was made." >&2
    [ $status -ne 0 ] || status=1
fi
exit $status
