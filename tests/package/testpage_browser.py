#!/usr/bin/env python3
"""The staff's test page in headless Chromium against the real service: unreachable message, printer
list, a sample receipt that comes out of the cups-pdf queue, paper settings, online set-top boxes.
Runs inside tests/common/run-isolated.sh (own network namespace). Exit 77 = skipped.
Environment: VEXA_BIN (service), VEXA_TESTPAGE (the page), VEXA_ARTIFACTS (screenshots go there),
VEXA_PDF_QUEUE / VEXA_PDF_DIR as for the printing tests."""
import datetime
import functools
import http.server
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from webdriver import Browser, free_port  # noqa: E402

CHROMIUM = '/usr/bin/chromium'
CHROMEDRIVER = '/usr/bin/chromedriver'
SERVICE_PORT = 12380
QUEUE = os.environ.get('VEXA_PDF_QUEUE', 'VexaPDF')
PDF_DIR = os.environ.get('VEXA_PDF_DIR', '/var/spool/cups-pdf/VEXA')


def skip(reason):
    print('SKIP: ' + reason)
    sys.exit(77)


def check(condition, message):
    if not condition:
        print('FAIL: ' + message)
        sys.exit(1)
    print('ok: ' + message)


def why_not_ready():
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.path.exists(path):
            return path + ' is not installed (packages chromium, chromium-driver)'
    if shutil.which('pdftotext') is None:
        return 'pdftotext is not installed (poppler-utils)'
    default = subprocess.run(['lpstat', '-d'], capture_output=True, text=True).stdout
    if not default.strip().endswith(QUEUE) or not os.path.isdir(PDF_DIR):
        return 'cupsd with the default queue %s is not available; run scripts/test-services.sh as root' % QUEUE
    return None


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class PageServer:
    """Serves the folder of the test page on loopback, as a browser on the cashier PC would load it."""

    def __init__(self, folder):
        handler = functools.partial(QuietHandler, directory=folder)
        self.httpd = http.server.ThreadingHTTPServer(('127.0.0.1', free_port()), handler)
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        self.port = self.httpd.server_address[1]


class Service:
    """The real service binary, copied into its own folder (it keeps every file beside itself)."""

    def __init__(self, binary, folder):
        self.folder = folder
        self.executable = os.path.join(folder, 'VexaPrinter')
        shutil.copy2(binary, self.executable)
        env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
        self.log = open(os.path.join(folder, 'stdout.log'), 'wb')
        self.process = subprocess.Popen([self.executable], env=env, stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                socket.create_connection(('127.0.0.1', SERVICE_PORT), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise RuntimeError('the service did not listen on %d' % SERVICE_PORT)

    def stop(self):
        self.process.kill()
        self.process.wait()
        self.log.close()


def announce_box(account, room):
    """A set-top box's status announcement, as the boxes send it to the service's UDP port."""
    datagram = json.dumps({'query': 'stbInfo', 'account': account, 'roomName': room, 'isServer': 0,
                           'isCloseRoom': 0, 'cprtQrCode': '', 'cprtPayStatus': 0, 'cprtSigned': 0,
                           'cprtTime': 0}).encode()
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        sock.sendto(datagram, ('127.0.0.1', 19262))


def wait_for_pdf(marker, since, timeout=40):
    """The first PDF written since `since` whose text holds the marker, and that text."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for name in sorted(os.listdir(PDF_DIR)):
            path = os.path.join(PDF_DIR, name)
            if not name.endswith('.pdf') or os.path.getmtime(path) < since - 1:
                continue
            text = subprocess.run(['pdftotext', path, '-'], capture_output=True, text=True).stdout
            if marker in text:
                return path, text
        time.sleep(0.3)
    return None, ''


def run(browser, page_url, work, artifacts):
    browser.open(page_url)
    check('Corvel打印控件测试页' in browser.text('h1'), 'the page loads from loopback')

    # No service yet: the page must say so in both languages.
    browser.click('#refresh')
    status = browser.wait_text('#status', lambda t: 'Cannot reach' in t)
    check('无法连接打印控件' in status and 'Cannot reach the print control' in status,
          'unreachable service gives a clear message: ' + status.splitlines()[0])
    browser.screenshot(os.path.join(artifacts, 'testpage-unreachable.png'))

    service = Service(os.environ['VEXA_BIN'], os.path.join(work, 'service'))
    try:
        browser.click('#refresh')
        reply = browser.wait_text('#printers-reply', lambda t: '"code":200' in t)
        check('"name": "%s"' % QUEUE in reply, 'PrinterStatus reply lists ' + QUEUE)
        check(browser.script('return document.getElementById("printers").value;') == QUEUE,
              'the default printer is chosen')
        browser.click('#printers option[value="%s"]' % QUEUE)

        since = time.time()
        browser.click('#print')
        reply = browser.wait_text('#print-reply', lambda t: t.startswith('{'))
        check(reply.startswith('{"code":200}'), 'print reply shown: ' + reply)
        number = browser.text('#receipt-no')
        pdf, text = wait_for_pdf(number, since)
        check(pdf is not None, 'receipt %s came out of the %s queue' % (number, QUEUE))
        fonts = subprocess.run(['pdffonts', pdf], capture_output=True, text=True).stdout
        check('青岛啤酒' in text and 'WenQuanYi' in fonts, 'the PDF carries the Chinese text in a CJK font (%s)' % pdf)
        shutil.copy(pdf, os.path.join(artifacts, 'testpage-receipt.pdf'))

        browser.type_into('#left', '5')
        browser.type_into('#width', '80')
        browser.type_into('#height', '120')
        browser.click('#save')
        reply = browser.wait_text('#settings-reply', lambda t: t.startswith('{'))
        check(reply.startswith('{"code":200}'), 'Settings reply shown: ' + reply)
        with open(os.path.join(service.folder, 'PrinterConfig.json'), encoding='utf-8') as stored:
            entries = json.load(stored)['data']
        check(entries == [{'Name': QUEUE, 'PrinterLeft': 5, 'Width': 80, 'Height': 120}],
              'PrinterConfig.json holds the entry: %s' % entries)

        announce_box(8001, '大包A01')
        browser.click('#boxes')
        reply = browser.wait_text('#boxes-reply', lambda t: '"code":180' in t)
        check('大包A01' in browser.text('#box-table'), 'InfoData shows the online box: ' + reply)

        log = browser.text('#log')
        for line in ('→ PrinterStatus', '→ print', '→ Settings', '→ InfoData', '← {"code":200}',
                     '← {"code":180'):
            check(line in log, 'every request and reply is logged on the page: ' + line)
        browser.screenshot(os.path.join(artifacts, 'testpage.png'))
    finally:
        service.stop()


def main():
    reason = why_not_ready()
    if reason:
        skip(reason)
    artifacts = os.environ.get('VEXA_ARTIFACTS') or tempfile.mkdtemp()
    os.makedirs(artifacts, exist_ok=True)
    page = os.environ['VEXA_TESTPAGE']
    with tempfile.TemporaryDirectory() as work:
        os.makedirs(os.path.join(work, 'service'))
        server = PageServer(os.path.dirname(page))
        page_url = 'http://127.0.0.1:%d/%s' % (server.port, os.path.basename(page))
        browser = Browser(CHROMIUM, CHROMEDRIVER, os.path.join(work, 'profile'),
                          os.path.join(artifacts, 'chromedriver.log'))
        try:
            run(browser, page_url, work, artifacts)
        finally:
            browser.close()
    print('testpage: all checks passed (%s)' % datetime.datetime.now().strftime('%H:%M:%S'))


if __name__ == '__main__':
    main()
