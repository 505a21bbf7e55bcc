#!/bin/bash
# HTTP command throughput and latency: the service and nginx under the same wrk load on loopback.
# Each server is pinned to core 0, wrk to core 1; 50 keep-alive connections. The two are measured
# in alternating rounds and compared by their medians: this machine's speed drifts by tens of
# per cent within a minute, and back-to-back single runs compared that drift as often as the servers.
# Usage: benchmarks/http/run.sh [seconds per round] [rounds]   (VEXA_BIN overrides the service binary)
set -euo pipefail
. "$(dirname "$0")/../tools/prologue.sh"
SECONDS_PER_RUN=${1:-5}
ROUNDS=${2:-5}
CONNS=${CONNS:-50}

WORK=$(mktemp -d /tmp/vexa-bench.XXXXXX)
cleanup() { kill "${SERVICE_PID:-}" "${NGINX_PID:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$WORK"; }
trap cleanup EXIT

cp "$BIN" "$WORK/VexaPrinter"
(cd "$WORK" && QT_QPA_PLATFORM=offscreen exec taskset -c 0 ./VexaPrinter >"$WORK/service.out" 2>&1) &
SERVICE_PID=$!
sed "s#@DIR@#$WORK#g" "$HERE/nginx.conf.in" >"$WORK/nginx.conf"
taskset -c 0 nginx -c "$WORK/nginx.conf" -p "$WORK" &
NGINX_PID=$!

wait_port() { for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null && return 0; sleep 0.1; done; echo "port $1 not up" >&2; exit 1; }
wait_port 12380
wait_port 18080

# Latency value of one wrk percentile line, in milliseconds.
to_ms() { awk -v v="$1" 'BEGIN { n = v + 0; if (v ~ /us$/) n /= 1000; else if (v ~ /ms$/) n += 0; else if (v ~ /s$/) n *= 1000; printf "%.3f", n }'; }

measure() {  # name url round
  local out; out=$(taskset -c 1 wrk -t1 -c"$CONNS" -d"${SECONDS_PER_RUN}s" --latency -s "$HERE/post.lua" "$2")
  echo "$out" >"$WORK/$1.$3.wrk"
  local rps p50 p99 errors
  rps=$(echo "$out" | awk '/Requests\/sec/ { print $2 }')
  p50=$(to_ms "$(echo "$out" | awk '$1 == "50%" { print $2 }')")
  p99=$(to_ms "$(echo "$out" | awk '$1 == "99%" { print $2 }')")
  errors=$(echo "$out" | awk '/Non-2xx|Socket errors/ { print }' | tr '\n' ' ')
  printf '  round %d %-8s %9.0f req/s   p50 %7s ms   p99 %7s ms   %s\n' "$3" "$1" "$rps" "$p50" "$p99" "$errors"
  echo "$rps $p99" >>"$WORK/$1.results"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The reference must answer with the service's own reply body, or the comparison means nothing.
body() { curl -s -X POST -H 'Content-Type: text/plain' --data '{"Msg":"InfoData"}' "$1"; }
if [ "$(body http://127.0.0.1:12380/)" != "$(body http://127.0.0.1:18080/)" ]; then
  echo "reply bodies differ: service '$(body http://127.0.0.1:12380/)', nginx '$(body http://127.0.0.1:18080/)'" >&2
  exit 1
fi
echo "one body: {\"Msg\":\"InfoData\"}; $CONNS connections; $ROUNDS rounds of ${SECONDS_PER_RUN}s per server"
for url in http://127.0.0.1:12380/ http://127.0.0.1:18080/; do   # warm-up
  taskset -c 1 wrk -t1 -c"$CONNS" -d2s -s "$HERE/post.lua" "$url" >/dev/null
done
for round in $(seq "$ROUNDS"); do
  measure service http://127.0.0.1:12380/ "$round"
  measure nginx http://127.0.0.1:18080/ "$round"
done
service_rps=$(cut -d' ' -f1 "$WORK/service.results" | median)
nginx_rps=$(cut -d' ' -f1 "$WORK/nginx.results" | median)
service_p99=$(cut -d' ' -f2 "$WORK/service.results" | median)
nginx_p99=$(cut -d' ' -f2 "$WORK/nginx.results" | median)
printf 'medians: service %.0f req/s p99 %.3f ms; nginx %.0f req/s p99 %.3f ms\n' "$service_rps" "$service_p99" "$nginx_rps" "$nginx_p99"
awk -v s="$service_rps" -v n="$nginx_rps" -v p="$service_p99" 'BEGIN {
  printf "ratio service/nginx: %.2f (target >= 0.90); service p99 %.3f ms (target < 2 ms)\n", s / n, p }'
echo "service log lines written: $(cat "$WORK"/logs/PrinterLog_*.log 2>/dev/null | wc -l)"
