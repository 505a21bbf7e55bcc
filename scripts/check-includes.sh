#!/bin/bash
# Fails when a module includes a header of a module above it. Dependencies point one way:
# app -> (server, commands, printing, rooms, update) -> (log, platform); commands may also use
# printing, rooms and update; log may use platform; platform uses nothing of ours. tests/, fuzz/ and
# benchmarks/ may use every module. A folder with sources that is not in the map fails too, so a new
# module is placed in it before it can be built on.
set -uo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [app]="app server commands printing rooms update log platform"
  [commands]="commands printing rooms update log platform"
  [server]="server log platform"
  [printing]="printing log platform"
  [rooms]="rooms log platform"
  [update]="update log platform"
  [log]="log platform"
  [platform]="platform"
  [tests]="*"
  [fuzz]="*"
  [benchmarks]="*"
)
sources='\.(c|cc|cpp|cxx|h|hh|hpp|hxx|inl|ipp|tpp|m|mm)$'

# Every source the checkout holds, tracked or new (ignored build output left out).
files=$(git ls-files --cached --others --exclude-standard | grep -E "$sources")

# A path with "." and ".." resolved; a leading "../" is left when it climbs out of the checkout.
normalize() {
  local part out=()
  local IFS=/
  for part in $1; do
    case $part in
      "" | .) ;;
      ..) if [ ${#out[@]} -gt 0 ] && [ "${out[-1]}" != .. ]; then unset 'out[-1]'; else out+=(..); fi ;;
      *) out+=("$part") ;;
    esac
  done
  echo "${out[*]}"
}

bad=0
fail() { echo "$1"; bad=1; }

for folder in $(echo "$files" | grep / | cut -d/ -f1 | sort -u); do
  [ -n "${allowed[$folder]+set}" ] || fail "$folder/: a folder with sources that scripts/check-includes.sh does not know"
done
echo "$files" | grep -q -v / && fail "sources at the top of the checkout: $(echo "$files" | grep -v / | tr '\n' ' ')"

while IFS= read -r file; do
  module=${file%%/*}
  [ "${allowed[$module]:-}" = "*" ] && continue
  dir=$(dirname "$file")
  while IFS=: read -r line written; do
    target=${written:1}
    # A quoted include is looked up beside the including file first, then on the include path.
    resolved=$(normalize "$target")
    if [ "${written:0:1}" = '"' ]; then
      beside=$(normalize "$dir/$target")
      [ -e "$beside" ] && resolved=$beside
    fi
    case $resolved in
      ../*) fail "$file:$line: includes $target, outside the checkout" ; continue ;;
    esac
    first=${resolved%%/*}
    [ "$first" != "$resolved" ] || continue  # a system or library header such as <QString>
    [ -n "${allowed[$first]+set}" ] || continue
    case " ${allowed[$module]-} " in
      *" $first "*) ;;
      *) fail "$file:$line: $module must not include $first/ ($target)" ;;
    esac
  done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file" |
           sed -E 's/^([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*([<"])([^>"]*).*/\1:\2\3/')
done <<<"$files"

[ $bad -eq 0 ] && echo "check-includes: every include points down"
exit $bad
