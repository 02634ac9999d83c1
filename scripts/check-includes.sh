#!/usr/bin/env bash
# Checks that every file of the folders of app-azs/src includes only headers of the folders its row
# of the table in docs/architecture.md allows (between the include-rules markers). Prints each
# include that breaks the table and exits 1; exits 0 when there is none.
#   scripts/check-includes.sh [SOURCE_DIR]
set -euo pipefail
top=${1:-$(cd "$(dirname "$0")/.." && pwd)}
src="$top/app-azs/src"
rules="$top/docs/architecture.md"

# Which folder each header of ours is in: a folder of app-azs/src, "program" for its top, or
# "common".
declare -A folderOf
while IFS= read -r h; do
    rel=${h#"$src"/}
    dir=${rel%/*}
    [ "$dir" = "$rel" ] && dir=program
    folderOf[${h##*/}]=$dir
done < <(find "$src" -name '*.h')
for h in "$top"/common/*.h; do folderOf[${h##*/}]=common; done

# The table: "| `orders/` | `common/`, `http/`, ... |" -> allowed[orders]="common http ...".
declare -A allowed
while IFS= read -r line; do
    folder=$(sed -E 's/^\| *`([a-z]+)\/`.*/\1/' <<<"$line")
    deps=$(cut -d'|' -f3 <<<"$line" | grep -oE '`[a-z]+/`' | tr -d '`/' | tr '\n' ' ' || true)
    allowed[$folder]="$deps"
done < <(sed -n '/<!-- include-rules -->/,/<!-- \/include-rules -->/p' "$rules" | grep -E '^\| *`[a-z]+/`')

if [ ${#allowed[@]} -eq 0 ]; then
    echo "no include rules found in $rules" >&2
    exit 1
fi

broken=0
for folder in "${!allowed[@]}"; do
    if [ ! -d "$src/$folder" ]; then
        echo "docs/architecture.md names $folder/, which app-azs/src does not have" >&2
        broken=1
        continue
    fi
    for file in "$src/$folder"/*.h "$src/$folder"/*.cpp; do
        [ -e "$file" ] || continue
        while IFS= read -r header; do
            name=${header##*/}
            to=${folderOf[$name]:-unknown}
            [ "$to" = "$folder" ] && continue
            case " ${allowed[$folder]} " in *" $to "*) continue ;; esac
            echo "${file#"$top"/} includes $header ($to), which $folder/ may not include" >&2
            broken=1
        done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([^"]+)".*/\1/p' "$file")
    done
done
[ $broken -eq 0 ] && echo "includes follow docs/architecture.md (${#allowed[@]} folders)"
exit $broken
