#!/usr/bin/env bash
# Checks the dependency rule of ARCHITECTURE.md: a folder's sources include only from the folders
# below it. Every #include "folder/..." line of the product's sources is checked.
#   scripts/check-includes.sh [ROOT]    (default: this repository)
# Prints each include that breaks the rule as FILE:LINE and exits 1 when there is one.
set -euo pipefail
root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}

# Which folders each folder may include from, besides itself. Keep in step with ARCHITECTURE.md.
declare -A allowed=(
  [base]=""
  [modbus]="base"
  [settings]="base modbus"
  [definitions]="base modbus settings"
  [features]="base modbus settings definitions"
  [link]="base modbus settings definitions"
  [app]="base modbus settings definitions features link"
  [tools/common]=""
  [tools/sim]="base modbus settings definitions tools/common"
  [tools/cli]="base modbus settings definitions features link tools/common"
)

# The folder an include names: its first component, or the first two under tools/.
folder_of() {
  case $1 in
    tools/*) echo "$1" | cut -d/ -f1-2 ;;
    *) echo "${1%%/*}" ;;
  esac
}

broken=0
for from in "${!allowed[@]}"; do
  [ -d "$root/$from" ] || continue
  while IFS=: read -r file line text; do
    target=$(echo "$text" | sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/')
    case $target in */*) ;; *) continue ;; esac # same folder
    to=$(folder_of "$target")
    [ -n "${allowed[$to]+known}" ] || continue # not a folder of ours (a generated header)
    [ "$to" = "$from" ] && continue
    case " ${allowed[$from]} " in *" $to "*) continue ;; esac
    echo "${file#"$root"/}:$line: $from may not include $to ($target)"
    broken=1
  done < <(grep -Hn -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' \
             $(find "$root/$from" -maxdepth 1 -type f \( -name '*.cpp' -o -name '*.h' \)) /dev/null || true)
done
if [ "$broken" -ne 0 ]; then
  echo "include rule broken: see ARCHITECTURE.md" >&2
  exit 1
fi
echo "include rule kept"
