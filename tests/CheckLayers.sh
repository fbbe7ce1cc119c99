#!/usr/bin/env bash
# Fails when a file of a library includes a header of a library that is not below it.
#   CheckLayers.sh <source dir> <layers file>
# Each line of the layers file is a folder of src/ followed by the folders it may include from:
# itself and those of every library it links, directly or through another.
set -euo pipefail
src=$1/src
failed=0
while read -r folder allowed; do
    [ -n "$folder" ] || continue
    for file in "$src/$folder"/*.h "$src/$folder"/*.cpp; do
        [ -e "$file" ] || continue
        # Project headers are included by "<folder>/<name>.h"; system and library headers by <...>.
        while IFS= read -r included; do
            dir=${included%%/*}
            [ "$dir" = "$included" ] && continue
            if ! [[ " $folder $allowed " == *" $dir "* ]]; then
                echo "${file#"$1"/}: includes \"$included\", but $folder does not link the library in src/$dir"
                failed=1
            fi
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
    done
done <"$2"
exit $failed
