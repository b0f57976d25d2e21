#!/usr/bin/env bash
# Fails when a folder under src/ includes a folder beside or above it: each layer may
# build only on those below, so that lower ones can be used and tested alone.
cd "$(dirname "$0")/.."
declare -A level=([datafiles]=0 [inifiles]=1 [random]=1 [geometry]=2 [materials]=2 [interactions]=3
                  [tracer]=4 [sources]=4 [detectors]=4 [ui]=4 [app]=5)
bad=0
for dir in src/*/; do
    folder=$(basename "$dir")
    while IFS=: read -r file line; do
        target=${line#*\"}
        target=${target%%/*}
        [[ -z ${level[$target]+x} || $target == "$folder" ]] && continue
        if ((level[$target] >= level[$folder])); then
            echo "$file includes $target/"
            bad=$((bad + 1))
        fi
    done < <(grep -rHo '#include "[^"]*/' "$dir")
done
exit $((bad > 0))
