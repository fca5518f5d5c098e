#!/usr/bin/env bash
# Lists the folders each layer includes from and fails on an upward include,
# naming file and line. The layers, bottom first: platform/ < smx/ < asn/ <
# smp/ < agent/ < tool/, demo/. Number text (smx/number.h) is a leaf of its own
# and the one thing of smx/ that platform/ may include. A layer's subfolders
# (platform/win32/) belong to it.
set -euo pipefail
cd "$(dirname "$0")/.."

layers=(platform smx asn smp agent)
declare -A allowed=(
  [platform]="platform"
  [smx]="platform smx"
  [asn]="platform smx asn"
  [smp]="platform smx asn smp"
  [agent]="platform smx asn smp agent"
  [tool]="platform smx asn smp agent tool"
  [demo]="platform smx asn smp agent demo"
)
exception="platform smx/number.h"

status=0
for folder in "${layers[@]}" tool demo; do
  used=()
  while IFS=: read -r file line text; do
    path=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"$text")
    target=${path%%/*}
    [ "$target" = "$path" ] && target="(none)"
    if [ "$folder $path" = "$exception" ]; then
      used+=("$path")
      continue
    fi
    used+=("$target")
    case " ${allowed[$folder]} " in
      *" $target "*) continue ;;
    esac
    echo "$file:$line: $folder/ may not include \"$path\"" >&2
    status=1
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$folder"/*.h "$folder"/*.cpp "$folder"/*/*.cpp 2>/dev/null || true)
  echo "$folder: $(printf '%s\n' "${used[@]}" | sort -u | tr '\n' ' ')"
done
exit $status
