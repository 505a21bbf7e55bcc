#!/usr/bin/env python3
# The staff's test page, from its file, in headless Chromium (chromedriver) against the real service.
import json, os, shutil, socket, subprocess, sys, tempfile, time, urllib.request

QUEUE = os.environ.get('VEXA_PDF_QUEUE', 'VexaPDF')
PDF_DIR = os.environ.get('VEXA_PDF_DIR', '/var/spool/cups-pdf/VEXA')
session = 'http://127.0.0.1:9515'


def check(condition, message):
    print(('ok: ' if condition else 'FAIL: ') + message, flush=True)
    if not condition:
        sys.exit(1)


def until(probe, timeout=15):  # probe()'s first true result in time (OSError: false), else the last
    deadline = time.monotonic() + timeout
    while True:
        try:
            result = probe()
        except OSError:
            result = None
        if result or time.monotonic() > deadline:
            return result
        time.sleep(0.2)


def call(method, path, body=None):  # a WebDriver command's value
    data = json.dumps(body).encode() if body else None
    request = urllib.request.Request(session + path, data, {'Content-Type': 'application/json'}, method=method)
    with urllib.request.urlopen(request, timeout=60) as response:
        return json.loads(response.read())['value']


def js(script):
    return call('POST', '/execute/sync', {'script': script, 'args': []})


def click(css):
    js('document.querySelector("%s").click()' % css)


def text(css, needle=''):  # once it holds the needle
    until(lambda: needle in js('return document.querySelector("%s").innerText' % css))
    return js('return document.querySelector("%s").innerText' % css)


def printed(marker, since):  # whether a PDF written since then holds it
    for name in os.listdir(PDF_DIR):
        path = os.path.join(PDF_DIR, name)
        if name.endswith('.pdf') and os.path.getmtime(path) >= since - 1:
            if marker in subprocess.run(['pdftotext', path, '-'], capture_output=True, text=True).stdout:
                return True


def run(work):
    call('POST', '/url', {'url': 'file://' + os.environ['VEXA_TESTPAGE']})
    click('#refresh')  # no service yet
    check('无法连接打印控件' in text('#status', 'Cannot reach the print control'), 'unreachable')
    exe = shutil.copy2(os.environ['VEXA_BIN'], work)
    service = subprocess.Popen([exe], env=dict(os.environ, QT_QPA_PLATFORM='offscreen'), stdout=subprocess.DEVNULL)
    try:
        check(until(lambda: socket.create_connection(('127.0.0.1', 12380)).close() or True, 20), 'the service listens')
        click('#refresh')
        check('"name": "%s"' % QUEUE in text('#printers-reply', '"code":200'), 'PrinterStatus lists ' + QUEUE)
        check(js('return printers.value') == QUEUE, 'the default printer is chosen')
        since = time.time()
        click('#print')
        check(text('#print-reply', '{').startswith('{"code":200}'), 'print reply shown')
        number = text('#receipt-no')
        check(until(lambda: printed(number, since), 40), 'receipt %s came out' % number)
        js('left.value = 5; width.value = 80; height.value = 120; save.click()')
        check(text('#settings-reply', '{').startswith('{"code":200}'), 'Settings reply shown')
        with open(work + '/PrinterConfig.json', encoding='utf-8') as config:
            entries = json.load(config)['data']
        check(entries == [{'Name': QUEUE, 'PrinterLeft': 5, 'Width': 80, 'Height': 120}], 'stored: %s' % entries)
        status = {'query': 'stbInfo', 'account': 8001, 'roomName': '大包A01', 'isServer': 0}
        socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(json.dumps(status).encode(), ('127.0.0.1', 19262))
        click('#boxes')
        check('大包A01' in text('#box-table', '大包A01'), 'InfoData shows the online box')
    finally:
        service.kill()


if __name__ == '__main__':
    default = subprocess.run(['lpstat', '-d'], capture_output=True, text=True).stdout.strip()
    if not all(map(shutil.which, ('chromedriver', 'chromium', 'pdftotext'))) or not default.endswith(QUEUE):
        print('SKIP: needs chromium, chromium-driver, poppler-utils and the queue of scripts/test-services.sh')
        sys.exit(77)
    work = tempfile.mkdtemp()
    driver = subprocess.Popen(['chromedriver', '--port=9515'], stdout=subprocess.DEVNULL)
    try:
        until(lambda: call('GET', '/status')['ready'], 20)
        args = ['--headless', '--no-sandbox', '--no-first-run', '--user-data-dir=' + work + '/profile']
        caps = {'alwaysMatch': {'goog:chromeOptions': {'binary': shutil.which('chromium'), 'args': args}}}
        session += '/session/' + call('POST', '/session', {'capabilities': caps})['sessionId']
        run(work)
    finally:
        if '/session/' in session:
            call('DELETE', '')
        driver.kill()
