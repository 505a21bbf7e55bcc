#!/bin/bash
# A fixed number of requests with every reply checked: wrk with checked.lua, one thread per
# connection. wrk itself waits out its duration even when every thread has stopped, so this ends it
# (SIGINT: it then reports) once each thread has had its share answered, or after 10 s without a reply.
# Prints wrk's report and the check; fails when a reply differed or a request went unanswered.
# Usage: soak.sh URL CONNECTIONS REQUESTS UNIT...   (units: see checked.lua)
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
URL=$1
CONNS=$2
REQUESTS=$3
shift 3
SHARE=$(( (REQUESTS + CONNS - 1) / CONNS ))

PROGRESS=$(mktemp /tmp/vexa-soak.XXXXXX)
trap 'rm -f "$PROGRESS"' EXIT
wrk -t"$CONNS" -c"$CONNS" -d24h -s "$HERE/checked.lua" "$URL" -- "$SHARE" stop "$@" 2>"$PROGRESS" &
WRK_PID=$!
size=-1
quiet=0
while kill -0 "$WRK_PID" 2>/dev/null; do
  sleep 0.1
  [ "$(grep -o finished "$PROGRESS" | wc -l)" -ge "$CONNS" ] && break
  now=$(stat -c %s "$PROGRESS")
  if [ "$now" = "$size" ]; then quiet=$((quiet + 1)); else quiet=0; size=$now; fi
  if [ "$quiet" -ge 100 ]; then
    echo "no reply for 10 s" >&2
    break
  fi
done
kill -INT "$WRK_PID" 2>/dev/null || true
rc=0
wait "$WRK_PID" || rc=$?
grep -v '^[.]*\(finished\)\?$' "$PROGRESS" >&2 || true
exit $rc
