#!/usr/bin/env bash
# Runs the benchmark programs of a build folder one after another and prints
# how long each took (make bench; README, "More targets").
#   run-benchmarks.sh <bench folder> [program] [filter] [extra arguments...]
# program: run only the programs whose name contains it (viewer, grid_bench);
# filter:  Google Benchmark's --benchmark_filter regex (BM_ViewerStep), applied
#          to every chosen program; programs without a matching benchmark are
#          skipped;
# extra:   passed to every program (--benchmark_repetitions=3, --benchmark_format=json).
set -euo pipefail
folder=${1:?bench folder}
program=${2:-}
filter=${3:-}
shift $(($# < 3 ? $# : 3))
extra=("$@")

summary=()
ran=0
for bench in "$folder"/*; do
    [[ -f "$bench" && -x "$bench" ]] || continue
    name=$(basename "$bench")
    [[ -z "$program" || "$name" == *"$program"* ]] || continue
    args=()
    if [[ -n "$filter" ]]; then
        args+=("--benchmark_filter=$filter")
        [[ -n "$("$bench" --benchmark_list_tests "${args[@]}" 2>/dev/null)" ]] || continue
    fi
    echo "== $name"
    # A shared thumbnail cache of its own for each program: never the user's,
    # and never warmed by an earlier program or run.
    cache=$(mktemp -d)
    trap 'rm -rf "$cache"' EXIT # also when a program fails
    start=$(date +%s.%N)
    XDG_CACHE_HOME="$cache" "$bench" "${args[@]}" "${extra[@]}"
    seconds=$(echo "$(date +%s.%N) - $start" | bc)
    rm -rf "$cache"
    summary+=("$(printf '%-16s %7.1f s' "$name" "$seconds")")
    ran=$((ran + 1))
done

if [[ $ran -eq 0 ]]; then
    echo "No benchmark program in $folder matches program '${program}' and filter '${filter}'." >&2
    exit 1
fi
echo "== time per program"
printf '%s\n' "${summary[@]}"
