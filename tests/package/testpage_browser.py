#!/usr/bin/env python3
"""The staff's test page (opened from its file) in headless Chromium, driven through chromedriver, against
the real service: unreachable message, printer list, a sample receipt out of the cups-pdf queue, paper
settings, online set-top boxes. Runs inside tests/common/run-isolated.sh. Exit 77 = skipped.
Environment: VEXA_BIN, VEXA_TESTPAGE, VEXA_ARTIFACTS (a screenshot), VEXA_PDF_QUEUE / VEXA_PDF_DIR."""
import base64, json, os, shutil, socket, subprocess, sys, tempfile, time, urllib.error, urllib.request

CHROMEDRIVER = '/usr/bin/chromedriver'
QUEUE = os.environ.get('VEXA_PDF_QUEUE', 'VexaPDF')
PDF_DIR = os.environ.get('VEXA_PDF_DIR', '/var/spool/cups-pdf/VEXA')


def check(condition, message):
    print(('ok: ' if condition else 'FAIL: ') + message, flush=True)
    if not condition:
        sys.exit(1)


def until(probe, timeout=15):
    """probe()'s first true result within the time-out (an OSError counts as false), else the last one."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            result = probe()
        except OSError:
            result = None
        if result or time.monotonic() > deadline:
            return result
        time.sleep(0.2)


class Browser:
    """Headless Chromium through chromedriver: the W3C WebDriver protocol over HTTP, as far as needed."""

    def __init__(self, work):
        with socket.socket() as sock:
            sock.bind(('127.0.0.1', 0))
            self.base = 'http://127.0.0.1:%d' % sock.getsockname()[1]
        self.log = open(os.path.join(work, 'chromedriver.log'), 'wb')
        self.driver = subprocess.Popen([CHROMEDRIVER, '--port=' + self.base.split(':')[-1]], stdout=self.log, stderr=self.log)
        until(lambda: self.call('GET', '/status')['ready'], 20)
        args = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
                '--disable-component-update', '--disable-sync', '--user-data-dir=' + work + '/profile', '--window-size=1000,1600']
        caps = {'alwaysMatch': {'browserName': 'chrome', 'goog:chromeOptions': {'binary': '/usr/bin/chromium', 'args': args}}}
        self.base += '/session/' + self.call('POST', '/session', {'capabilities': caps})['sessionId']

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.base + path, data, {'Content-Type': 'application/json'}, method=method)
        try:
            with urllib.request.urlopen(request, timeout=60) as response:
                return json.loads(response.read())['value']
        except urllib.error.HTTPError as err:
            check(False, '%s %s: %s' % (method, path, err.read().decode(errors='replace')))

    def element(self, css):
        return '/element/' + self.call('POST', '/element', {'using': 'css selector', 'value': css})['element-6066-11e4-a52e-4f735466cecf']

    def click(self, css):
        self.call('POST', self.element(css) + '/click', {})

    def type_into(self, css, text):
        self.call('POST', self.element(css) + '/clear', {})
        self.call('POST', self.element(css) + '/value', {'text': text})

    def text(self, css, needle=''):
        """The element's text once it holds the needle (or the last one seen after 15 s)."""
        until(lambda: needle in self.call('GET', self.element(css) + '/text'))
        return self.call('GET', self.element(css) + '/text')


def start_service(folder):
    """The real service binary, copied into its own folder (it keeps every file beside itself)."""
    os.makedirs(folder)
    shutil.copy2(os.environ['VEXA_BIN'], folder + '/VexaPrinter')
    process = subprocess.Popen([folder + '/VexaPrinter'], env=dict(os.environ, QT_QPA_PLATFORM='offscreen'),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    check(until(lambda: socket.create_connection(('127.0.0.1', 12380), timeout=1).close() or True, 20), 'the service listens')
    return process


def printed(marker, since):
    """The text and fonts of the first PDF written since `since` whose text holds the marker."""
    for path in (os.path.join(PDF_DIR, name) for name in os.listdir(PDF_DIR) if name.endswith('.pdf')):
        if os.path.getmtime(path) < since - 1:
            continue  # the queue's folder keeps every earlier run's PDFs: read only the new ones
        text = subprocess.run(['pdftotext', path, '-'], capture_output=True, text=True).stdout
        if marker in text:
            return text + subprocess.run(['pdffonts', path], capture_output=True, text=True).stdout


def run(browser, work):
    browser.call('POST', '/url', {'url': 'file://' + os.environ['VEXA_TESTPAGE']})
    check('Corvel打印控件测试页' in browser.text('h1'), 'the page loads')
    browser.click('#refresh')  # no service yet
    status = browser.text('#status', 'Cannot reach')
    check('无法连接打印控件' in status and 'Cannot reach the print control' in status, 'unreachable: ' + status.splitlines()[0])

    service = start_service(work + '/service')
    try:
        browser.click('#refresh')
        check('"name": "%s"' % QUEUE in browser.text('#printers-reply', '"code":200'), 'PrinterStatus lists ' + QUEUE)
        check(browser.call('POST', '/execute/sync', {'script': 'return printers.value;', 'args': []}) == QUEUE,
              'the default printer is chosen')
        since = time.time()
        browser.click('#print')
        check(browser.text('#print-reply', '{').startswith('{"code":200}'), 'print reply shown')
        number = browser.text('#receipt-no')
        pdf = until(lambda: printed(number, since), 40) or ''
        check('青岛啤酒' in pdf and 'WenQuanYi' in pdf, 'receipt %s came out of %s with its Chinese text in a CJK font' % (number, QUEUE))

        for css, value in (('#left', '5'), ('#width', '80'), ('#height', '120')):
            browser.type_into(css, value)
        browser.click('#save')
        check(browser.text('#settings-reply', '{').startswith('{"code":200}'), 'Settings reply shown')
        with open(work + '/service/PrinterConfig.json', encoding='utf-8') as stored:
            entries = json.load(stored)['data']
        check(entries == [{'Name': QUEUE, 'PrinterLeft': 5, 'Width': 80, 'Height': 120}], 'PrinterConfig.json: %s' % entries)

        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as box:  # a set-top box announces itself
            box.sendto(json.dumps({'query': 'stbInfo', 'account': 8001, 'roomName': '大包A01', 'isServer': 0}).encode(),
                       ('127.0.0.1', 19262))
        browser.click('#boxes')
        browser.text('#boxes-reply', '"code":180')
        check('大包A01' in browser.text('#box-table'), 'InfoData shows the online box')
        artifacts = os.environ.get('VEXA_ARTIFACTS') or work
        os.makedirs(artifacts, exist_ok=True)
        with open(artifacts + '/testpage.png', 'wb') as out:
            out.write(base64.b64decode(browser.call('GET', '/screenshot')))
    finally:
        service.kill()


if __name__ == '__main__':
    for tool in (CHROMEDRIVER, '/usr/bin/chromium', shutil.which('pdftotext')):
        if not tool or not os.path.exists(tool):
            print('SKIP: chromium, chromium-driver or poppler-utils missing'), sys.exit(77)
    if not subprocess.run(['lpstat', '-d'], capture_output=True, text=True).stdout.strip().endswith(QUEUE) or not os.path.isdir(PDF_DIR):
        print('SKIP: cupsd with the default queue %s is not available; run scripts/test-services.sh as root' % QUEUE), sys.exit(77)
    with tempfile.TemporaryDirectory() as work:
        browser = Browser(work)
        try:
            run(browser, work)
        finally:
            browser.call('DELETE', '')
            browser.driver.kill()
    print('testpage: all checks passed')
