"""A small WebDriver client (W3C protocol over HTTP, standard library only) for chromedriver."""
import base64
import json
import socket
import subprocess
import time
import urllib.error
import urllib.request

ELEMENT_KEY = 'element-6066-11e4-a52e-4f735466cecf'


def free_port():
    with socket.socket() as sock:
        sock.bind(('127.0.0.1', 0))
        return sock.getsockname()[1]


class WebDriverError(Exception):
    pass


class Browser:
    """Headless Chromium driven through chromedriver; both live as long as the object."""

    def __init__(self, chromium, chromedriver, profile_dir, log_path, width=1000, height=1600):
        self.port = free_port()
        self.log = open(log_path, 'wb')
        self.driver = subprocess.Popen([chromedriver, '--port=%d' % self.port], stdout=self.log,
                                       stderr=subprocess.STDOUT)
        self.base = 'http://127.0.0.1:%d' % self.port
        self._wait_ready()
        args = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                '--disable-background-networking', '--disable-component-update', '--disable-sync',
                '--user-data-dir=' + profile_dir, '--window-size=%d,%d' % (width, height)]
        caps = {'capabilities': {'alwaysMatch': {
            'browserName': 'chrome', 'goog:chromeOptions': {'binary': chromium, 'args': args}}}}
        self.session = self._call('POST', '/session', caps, session=False)['sessionId']

    def _wait_ready(self):
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                if self._call('GET', '/status', session=False).get('ready'):
                    return
            except (OSError, WebDriverError):
                pass
            time.sleep(0.1)
        raise WebDriverError('chromedriver did not come up')

    def _call(self, method, path, body=None, session=True):
        url = self.base + ('/session/' + self.session if session else '') + path
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(url, data=data, method=method,
                                         headers={'Content-Type': 'application/json'})
        try:
            with urllib.request.urlopen(request, timeout=60) as response:
                return json.loads(response.read())['value']
        except urllib.error.HTTPError as err:
            raise WebDriverError('%s %s: %s' % (method, path, err.read().decode(errors='replace')))

    def open(self, url):
        self._call('POST', '/url', {'url': url})

    def find(self, css):
        found = self._call('POST', '/element', {'using': 'css selector', 'value': css})
        if not isinstance(found, dict) or ELEMENT_KEY not in found:
            raise WebDriverError('no element %s: %r' % (css, found))
        return found[ELEMENT_KEY]

    def click(self, css):
        self._call('POST', '/element/%s/click' % self.find(css), {})

    def type_into(self, css, text):
        element = self.find(css)
        self._call('POST', '/element/%s/clear' % element, {})
        self._call('POST', '/element/%s/value' % element, {'text': text})

    def text(self, css):
        return self._call('GET', '/element/%s/text' % self.find(css))

    def script(self, source, *args):
        return self._call('POST', '/execute/sync', {'script': source, 'args': list(args)})

    def wait_text(self, css, predicate, timeout=15):
        """Waits until predicate(text of css) holds; returns the text, or raises with the last one."""
        deadline = time.monotonic() + timeout
        text = ''
        while time.monotonic() < deadline:
            text = self.text(css)
            if predicate(text):
                return text
            time.sleep(0.1)
        raise WebDriverError('%s never matched; last text: %r' % (css, text))

    def screenshot(self, path):
        with open(path, 'wb') as out:
            out.write(base64.b64decode(self._call('GET', '/screenshot')))

    def close(self):
        try:
            self._call('DELETE', '')
        except (OSError, WebDriverError):
            pass
        self.driver.terminate()
        try:
            self.driver.wait(10)
        except subprocess.TimeoutExpired:
            self.driver.kill()
        self.log.close()
