#!/bin/sh
# A nearly full disk under "Settings": the application folder on a 1 MiB tmpfs, a first small "Settings"
# stored, the disk filled to 4 KiB free, then "Settings" with 400 printers (about 30 KB). Prints the
# reply, what PrinterConfig.json holds afterwards and the log line. Usage: settings_fulldisk.sh [binary]
BIN=$(readlink -f "${1:-$(dirname "$0")/../../build/VexaPrinter}")
exec unshare --mount --net --ipc --propagation private sh -s "$BIN" <<'INNER'
set -e
BIN=$1
ip link set lo up
export HOME=$(mktemp -d); export XDG_CONFIG_HOME=$HOME/.config  # the service writes an autostart entry
APP=$(mktemp -d)
mount -t tmpfs -o size=1m tmpfs "$APP"; cd "$APP"
touch VexaPrinter; mount --bind "$BIN" VexaPrinter
LOGS=$(mktemp -d); mkdir logs; mount --bind "$LOGS" logs
QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software ./VexaPrinter >/dev/null 2>&1 &
PID=$!
for i in $(seq 100); do curl -s -o /dev/null http://127.0.0.1:12380/ -d '{}' && break; sleep 0.1; done
post() { curl -s -H 'Content-Type: text/plain' --data-binary @- http://127.0.0.1:12380/; echo; }
printf '{"Msg":"Settings","data":[{"Name":"VexaPDF","PrinterLeft":0,"Width":80,"Height":0}]}' | post
echo "stored: $(stat -c %s PrinterConfig.json) bytes"
dd if=/dev/zero of=spare bs=4k count=1 2>/dev/null
dd if=/dev/zero of=fill bs=4k 2>/dev/null || true
rm spare
echo "free: $(df -B1 --output=avail . | tail -1) bytes"
python3 -c 'import json; print(json.dumps({"Msg":"Settings","data":[{"Name":"Printer %d"%i,"PrinterLeft":i,"Width":80,"Height":200} for i in range(400)]}))' > /tmp/body400.$$
echo "request: $(stat -c %s /tmp/body400.$$) bytes"
echo -n "reply: "; post < /tmp/body400.$$
echo "PrinterConfig.json: $(stat -c %s PrinterConfig.json) bytes, parses: $(python3 -c 'import json,sys; json.load(open("PrinterConfig.json")); print("yes")' 2>/dev/null || echo no)"
sleep 0.7
grep -h '写失败' logs/*.log 2>/dev/null || echo "log: no write-failure line"
kill $PID; wait $PID 2>/dev/null || true
rm -f /tmp/body400.$$
INNER
