#!/usr/bin/env bash
# Makes CMake's AUTOMOC step run again for every target whose list of sources
# changed since it last ran (its AutogenInfo.json is newer than its timestamp).
set -euo pipefail
build=${1:?build folder}
[[ -d "$build" ]] || exit 0
find "$build" -name AutogenInfo.json -path '*_autogen.dir/*' | while read -r info; do
    target_dir=$(dirname "$(dirname "$(dirname "$info")")")
    name=$(basename "$(dirname "$info")" .dir)
    stamp="$target_dir/$name/timestamp"
    if [[ -f "$stamp" && "$info" -nt "$stamp" ]]; then
        rm -f "$stamp"
    fi
done
