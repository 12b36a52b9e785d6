#!/usr/bin/env bash
# Wall time, CPU time and peak memory of reading each small hostile file
# (tests/data/hostile: files that claim huge pictures) with the image tool.
#   bench/hostile-inputs.sh [IMGTOOL] [FOLDER]
# Reading may fail; what counts is what the attempt costs. Each read is cut
# off after 60 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${1:-build/tools/quiltara-imgtool/quiltara-imgtool}
folder=${2:-tests/data/hostile}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
printf '%-40s %8s %8s %8s %10s  %s\n' file bytes wall_s cpu_s peak_MB result
for file in "$folder"/*; do
    status=0
    /usr/bin/time -f '%e %U %S %M' -o "$out" timeout 60 "$tool" info "$file" >/dev/null 2>&1 ||
        status=$?
    read -r wall user sys peak < <(tail -n 1 "$out")
    result=$(case $status in 0) echo read ;; 124) echo "cut off" ;; *) echo "refused" ;; esac)
    printf '%-40s %8d %8.2f %8.2f %10.1f  %s\n' "$(basename "$file")" "$(stat -c %s "$file")" \
        "$wall" "$(echo "$user + $sys" | bc)" "$(echo "$peak / 1024" | bc -l)" "$result"
done
