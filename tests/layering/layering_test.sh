#!/bin/bash
# No folder of src/ includes a folder above it. Ranks go from the bottom up; folders that
# share a rank are peers and include neither each other. A new folder must be given a rank.
set -u
src=${1:?usage: layering_test.sh SRC_DIR}
ranks=(common exchange acquisition monitor calibration posture "network record midi" plot window startup)

declare -A rank
for i in "${!ranks[@]}"; do
    for folder in ${ranks[$i]}; do rank[$folder]=$i; done
done

status=0
for dir in "$src"/*/; do
    from=$(basename "$dir")
    if [[ ! -v rank[$from] ]]; then
        echo "src/$from/: a folder with no rank in the layering"
        status=1
        continue
    fi
    # path:line:#include "folder/
    while IFS=: read -r path line include; do
        to=${include#*\"}
        to=${to%/}
        [[ $to == "$from" ]] && continue
        if [[ ! -v rank[$to] ]] || ((rank[$to] >= rank[$from])); then
            echo "${path#"$src"/}:$line: src/$from/ includes src/$to/"
            status=1
        fi
    done < <(grep -rnoE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]+/' "$dir")
done
((status == 0)) && echo "every folder of src/ includes only itself and folders below it"
exit "$status"
