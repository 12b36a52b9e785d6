#!/usr/bin/env bash
# How closely a run keeps a source's "rate": quiltara-make fetches TILES tiles
# over 4 connections from demo-map-server, once per rate, and the server's
# arrival times of the requests give the rate the run really kept.
#   bench/rate-accuracy.sh [BUILD] [TILES] [RATES...]
# Prints, per rate: requests, seconds from the first to the last, the rate
# kept ((requests - 1) / seconds), its difference from the rate asked, and
# the most requests that arrived within any one second.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tiles=${2:-200}
shift $(($# > 2 ? 2 : $#))
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(2 4 10 25 50)
work=$(mktemp -d)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Tiles in a square of columns and rows at zoom 10.
side=$(python3 -c "import math; print(math.ceil(math.sqrt($tiles)))")
printf '%6s %8s %9s %10s %9s %12s\n' rate requests seconds rate_kept error most_in_1s
for rate in "${rates[@]}"; do
    log="$work/requests-$rate.log"
    "$build/tools/demo-map-server/demo-map-server" --port 0 --log "$log" --log-arrivals \
        >"$work/port" 2>/dev/null &
    server_pid=$!
    for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
    port=$(head -n 1 "$work/port")
    mkdir -p "$work/config/Quiltara/sources" "$work/out-$rate"
    cat >"$work/config/Quiltara/sources/rate-bench.json" <<EOF
{"id": "rate-bench", "name": "Rate bench", "connections": 4, "rate": $rate,
 "layers": {"map": "http://127.0.0.1:$port/tiles/map/{z}/{x}/{y}.png"}}
EOF
    XDG_CONFIG_HOME="$work/config" "$build/tools/quiltara-make/quiltara-make" \
        --source rate-bench --tiles "0,0,$((side - 1)),$((side - 1))" --zoom 10 --jobs 4 \
        --keep-tiles --quiet -o "$work/out-$rate/map.png" >/dev/null
    kill "$server_pid"
    wait "$server_pid" 2>/dev/null || true
    server_pid=
    python3 - "$log" "$rate" <<'EOF'
import sys
times = sorted(int(line.split()[2]) for line in open(sys.argv[1]) if line.startswith("X-Demo-Arrival:"))
rate = float(sys.argv[2])
span = (times[-1] - times[0]) / 1000.0
kept = (len(times) - 1) / span
window = max(sum(1 for u in times[i:] if u - t < 1000) for i, t in enumerate(times))
print(f"{rate:6g} {len(times):8d} {span:9.2f} {kept:10.3f} {100 * (kept - rate) / rate:+8.2f}% {window:12d}")
EOF
done
