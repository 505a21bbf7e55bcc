#!/bin/bash
# Fails when a module includes a header of a module above it. Dependencies point one way:
# app -> (server, commands, printing, rooms, update) -> (log, platform); commands may also use
# printing, rooms and update; log may use platform; platform uses nothing of ours.
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
)

bad=0
for module in "${!allowed[@]}"; do
  while IFS=: read -r file line target; do
    [ -n "$file" ] || continue
    case " ${allowed[$module]} " in
      *" $target "*) ;;
      *) echo "$file:$line: $module must not include $target/"; bad=1 ;;
    esac
  done < <(git ls-files -- "$module" | grep -E '\.(cpp|h)$' |
           xargs -r grep -n -o -E '^#include "[a-z]+/' /dev/null |
           sed -E 's/#include "([a-z]+)\//\1/')
done
[ $bad -eq 0 ] && echo "check-includes: every include points down"
exit $bad
