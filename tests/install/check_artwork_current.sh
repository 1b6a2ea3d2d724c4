#!/bin/bash
# The artwork is committed next to the script that draws it. Redraws it into
# a scratch tree and compares byte for byte, so an edited drawing whose
# output was not regenerated (or a script that stopped being deterministic)
# is caught here rather than in a release.
#
#   check_artwork_current.sh <python3> <source dir>
set -u
python=$1
source=$2

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$python" "$source/app/forms/artwork/make_artwork.py" --out "$out" || exit 1

stale=0
count=0
while IFS= read -r file; do
    count=$((count + 1))
    rel=${file#"$out"/}
    if ! cmp -s "$file" "$source/$rel"; then
        echo "FAIL: $rel differs from what make_artwork.py draws; run it and commit the result"
        stale=$((stale + 1))
    fi
done < <(find "$out" -type f | sort)

if [ "$count" -eq 0 ]; then
    echo "FAIL: make_artwork.py wrote nothing"
    exit 1
fi
[ "$stale" -eq 0 ] || exit 1
echo "$count drawn files match the committed ones"
