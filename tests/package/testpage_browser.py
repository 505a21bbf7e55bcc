#!/usr/bin/env python3
"""The staff's test page (opened from its file) in headless Chromium through chromedriver, against the real
service. Runs under tests/common/run-isolated.sh; exit 77 = skipped. Environment: VEXA_BIN, VEXA_TESTPAGE,
VEXA_ARTIFACTS, VEXA_PDF_QUEUE / VEXA_PDF_DIR."""
import json, os, shutil, socket, subprocess, sys, tempfile, time, urllib.error, urllib.request

CHROMEDRIVER, CHROMIUM = '/usr/bin/chromedriver', '/usr/bin/chromium'
QUEUE = os.environ.get('VEXA_PDF_QUEUE', 'VexaPDF')
PDF_DIR = os.environ.get('VEXA_PDF_DIR', '/var/spool/cups-pdf/VEXA')
session = 'http://127.0.0.1:9515'


def check(condition, message):
    print(('ok: ' if condition else 'FAIL: ') + message, flush=True)
    if not condition:
        sys.exit(1)


def until(probe, timeout=15):  # probe()'s first true result in time (an OSError counts as false), else the last
    deadline = time.monotonic() + timeout
    while True:
        try:
            result = probe()
        except OSError:
            result = None
        if result or time.monotonic() > deadline:
            return result
        time.sleep(0.2)


def call(method, path, body=None):  # one WebDriver command; its value
    data = None if body is None else json.dumps(body).encode()
    request = urllib.request.Request(session + path, data, {'Content-Type': 'application/json'}, method=method)
    try:
        with urllib.request.urlopen(request, timeout=60) as response:
            return json.loads(response.read())['value']
    except urllib.error.HTTPError as err:
        check(False, '%s %s: %s' % (method, path, err.read().decode(errors='replace')))


def element(css, action, body=None):
    found = call('POST', '/element', {'using': 'css selector', 'value': css})['element-6066-11e4-a52e-4f735466cecf']
    return call('GET' if body is None else 'POST', '/element/%s/%s' % (found, action), body)


def click(css):
    element(css, 'click', {})


def text(css, needle=''):  # once it holds the needle, or the last one seen after 15 s
    until(lambda: needle in element(css, 'text'))
    return element(css, 'text')


def printed(marker, since):  # text and fonts of the first PDF written since then whose text holds the marker
    for name in os.listdir(PDF_DIR):
        path = os.path.join(PDF_DIR, name)
        if name.endswith('.pdf') and os.path.getmtime(path) >= since - 1:  # earlier runs' PDFs stay
            pdf = subprocess.run(['pdftotext', path, '-'], capture_output=True, text=True).stdout
            if marker in pdf:
                return pdf + subprocess.run(['pdffonts', path], capture_output=True, text=True).stdout


def run(work):
    call('POST', '/url', {'url': 'file://' + os.environ['VEXA_TESTPAGE']})
    click('#refresh')  # no service yet
    status = text('#status', 'Cannot reach')
    check('无法连接打印控件' in status and 'Cannot reach the print control' in status, 'unreachable: ' + status)
    exe = shutil.copy2(os.environ['VEXA_BIN'], work)  # it keeps every file beside itself
    service = subprocess.Popen([exe], env=dict(os.environ, QT_QPA_PLATFORM='offscreen'), stdout=subprocess.DEVNULL)
    try:
        check(until(lambda: socket.create_connection(('127.0.0.1', 12380)).close() or True, 20), 'the service listens')
        click('#refresh')
        check('"name": "%s"' % QUEUE in text('#printers-reply', '"code":200'), 'PrinterStatus lists ' + QUEUE)
        selected = call('POST', '/execute/sync', {'script': 'return printers.value;', 'args': []})
        check(selected == QUEUE, 'the default printer is chosen')
        since = time.time()
        click('#print')
        check(text('#print-reply', '{').startswith('{"code":200}'), 'print reply shown')
        number = text('#receipt-no')
        pdf = until(lambda: printed(number, since), 40) or ''
        # The queue's PostScript step sometimes turns part of a font subset into Type 3 glyphs that
        # print right but have no text behind them; so any of the receipt's Chinese lines will do.
        chinese = [line for line in ('青岛啤酒', '果盘（大）', '合计：78.00', '打印正常') if line in pdf]
        check(chinese and 'WenQuanYi' in pdf, 'receipt %s came out with its Chinese text in a CJK font' % number)
        for css, value in (('#left', '5'), ('#width', '80'), ('#height', '120')):
            element(css, 'clear', {})
            element(css, 'value', {'text': value})
        click('#save')
        check(text('#settings-reply', '{').startswith('{"code":200}'), 'Settings reply shown')
        with open(work + '/PrinterConfig.json', encoding='utf-8') as config:
            entries = json.load(config)['data']
        check(entries == [{'Name': QUEUE, 'PrinterLeft': 5, 'Width': 80, 'Height': 120}], 'stored: %s' % entries)
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as box:  # a set-top box announces itself
            status = {'query': 'stbInfo', 'account': 8001, 'roomName': '大包A01', 'isServer': 0}
            box.sendto(json.dumps(status).encode(), ('127.0.0.1', 19262))
        click('#boxes')
        check('大包A01' in text('#box-table', '大包A01'), 'InfoData shows the online box')
    finally:
        service.kill()


if __name__ == '__main__':
    if not all(os.path.exists(tool) for tool in (CHROMEDRIVER, CHROMIUM, shutil.which('pdftotext') or '')):
        print('SKIP: chromium, chromium-driver or poppler-utils missing')
        sys.exit(77)
    default = subprocess.run(['lpstat', '-d'], capture_output=True, text=True).stdout.strip()
    if not default.endswith(QUEUE) or not os.path.isdir(PDF_DIR):
        print('SKIP: cupsd with the default queue %s is not available; run scripts/test-services.sh' % QUEUE)
        sys.exit(77)
    work = tempfile.mkdtemp()
    driver = subprocess.Popen([CHROMEDRIVER, '--port=9515'], stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    try:
        until(lambda: call('GET', '/status')['ready'], 20)
        args = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
                '--disable-component-update', '--disable-sync', '--user-data-dir=' + work + '/profile']
        caps = {'alwaysMatch': {'browserName': 'chrome', 'goog:chromeOptions': {'binary': CHROMIUM, 'args': args}}}
        session += '/session/' + call('POST', '/session', {'capabilities': caps})['sessionId']
        run(work)
    finally:
        if '/session/' in session:
            call('DELETE', '')
        driver.kill()
    print('testpage: all checks passed')
