#!/bin/bash
# VexaPrinter.exe under wine, beside a set-top box on a veth peer.
source "$(dirname "$0")/wine-env.sh"
post() { curl -s -m 20 -d "$1" http://127.0.0.1:12380/; }
box=vexa-wbox-$$ on_exit='ip netns del $box'
ip netns add $box
ip link add vxs type veth peer name vxb netns $box
ip addr add 192.168.77.1/24 dev vxs && ip link set vxs up
ip -n $box addr add 192.168.77.2/24 dev vxb && ip -n $box link set vxb up
wine "$winApp\\VexaPrinter.exe" >/dev/null 2>&1 & service=$!
for _ in $(seq 60); do post '{"Msg":"InfoData"}' >/dev/null && break; sleep 0.5; done
timeout 60 wine "$winApp\\VexaPrinter.exe" >/dev/null 2>&1 || fail "a second start exited with $?"

stb='{"query":"stbInfo","account":3001,"roomName":"Room 30","isServer":0}'
ip netns exec $box bash -c "echo -n '$stb' >/dev/udp/192.168.77.1/19262"
linux='{"code":180,"data":[{"cprtPayStatus":0,"cprtQrCode":"","cprtSigned":0,"cprtTime":"0","isCloseRoom":0,'
linux+='"isServer":0,"roomName":"Room30","strIp":"192.168.77.2","unAccount":"3001","unTime":"0"}]}'
for _ in $(seq 20); do reply=$(post '{"Msg":"InfoData"}') && [ "$reply" = "$linux" ] && break; sleep 0.5; done
[ "$reply" = "$linux" ] || fail "InfoData: $reply"

names=$(post '{"Msg":"PrinterStatus"}' | sed -n 's/^ *"name": "\(.*\)",$/\1/p')
[ "$names" = "$(lpstat -e)" ] || fail "PrinterStatus lists" $names

cd "$TMPDIR" && mkdir www && convert -size 160x80 xc:red www/logo.jpg
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -days 1 -keyout k.pem -out c.pem 2>/dev/null
(cd www && exec openssl s_server -quiet -WWW -accept 8443 -cert ../c.pem -key ../k.pem) &
on_exit+="; kill $!"
touch stamp
token=wine$$x$RANDOM
sleep 0.5
[ "$(post "{\"data\":\"<img  src=\\\"https://127.0.0.1:8443/logo.jpg\\\"><p>小票 $token</p>\"}")" = '{"code":1}' ] ||
    fail "the receipt was refused"
pdf=
for _ in $(seq 120); do
    for file in $(find "${VEXA_PDF_DIR:-/var/spool/cups-pdf/VEXA}" -name '*.pdf' -newer stamp); do
        pdftotext "$file" - 2>/dev/null | grep -qx "小票 $token" && pdf=$file
    done
    [ -z "$pdf" ] || break
    sleep 0.5
done
[ -n "$pdf" ] || fail "no receipt with 小票 $token"
[ "$(pdfimages -list "$pdf" | grep -c ' image ')" = 1 ] || fail "the receipt has no logo: $pdf"

wine "$winApp\\VexaPrinter.exe" quit  # wine takes about 5 s to take the tray icon down
timeout 60 tail --pid=$service -f /dev/null || fail "quit did not end the service; HTTP: $(post '{"Msg":"InfoData"}')"
wait $service || fail "the service exited with $?"
echo "receipt: $pdf"
