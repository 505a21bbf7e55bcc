#!/bin/sh
# A receipt whose logo is MIB MiB, served on loopback in a private network namespace; prints the
# service's peak RSS before and after, and what landed in image/. Usage: logo_memory.sh [binary] [MiB]
BIN=$(readlink -f "${1:-$(dirname "$0")/../../build/VexaPrinter}"); MIB=${2:-200}
exec unshare --net --ipc sh -s "$BIN" "$MIB" <<'INNER'
BIN=$1; MIB=$2
ip link set lo up
export HOME=$(mktemp -d); export XDG_CONFIG_HOME=$HOME/.config  # the service writes an autostart entry
APP=$(mktemp -d); WWW=$(mktemp -d)
cp "$BIN" "$APP/VexaPrinter"
head -c $((MIB * 1024 * 1024)) /dev/zero > "$WWW/big.png"
(cd "$WWW" && exec python3 -m http.server 8000 --bind 127.0.0.1 >/dev/null 2>&1) & WEB=$!
cd "$APP"
CUPS_SERVER=/nonexistent/cups.sock QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software ./VexaPrinter >/dev/null 2>&1 &
PID=$!
for i in $(seq 100); do curl -s -o /dev/null http://127.0.0.1:12380/ -d '{}' && break; sleep 0.1; done
sleep 0.5
echo "idle peak RSS: $(grep VmHWM /proc/$PID/status | tr -s ' ')"
curl -s -H 'Content-Type: text/plain' --data-binary '{"data":"<p>x</p><img  src=\"http://127.0.0.1:8000/big.png\">"}' http://127.0.0.1:12380/; echo
sleep 4
echo "after receipt peak RSS: $(grep VmHWM /proc/$PID/status | tr -s ' ')"
echo "image/: $(ls -l image | tail -n +2 | awk '{print $5, $9}' | tr '\n' ' ')"
grep -h 'logo' logs/*.log
kill $PID $WEB; wait 2>/dev/null
rm -rf "$APP" "$WWW"
INNER
