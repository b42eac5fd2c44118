# Sourced by the source checks' self-tests: `fresh_copy` makes $work/tree a copy of the files
# listed in `baseline`, taken from $src.
fresh_copy() {
    rm -rf "$work/tree"
    for f in "${baseline[@]}"; do
        mkdir -p "$work/tree/$(dirname "$f")"
        cp "$src/$f" "$work/tree/$f" || return 1
    done
}
