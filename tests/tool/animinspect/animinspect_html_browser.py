#!/usr/bin/env python3
"""animinspect -html in a real browser: headless Chromium, driven through its
DevTools protocol on a pipe (fds 3 and 4), opens the page from file:// and
checks what it shows against the JSON report of the same run.

  test DIR ANIMINSPECT BONEANIM   the ctest case; exit 77 (skip) without Chromium
  shot PAGE [PNG]                 load time of a page, and a screenshot of it
"""
import base64, json, math, os, select, shutil, struct, subprocess, sys, tempfile, time, zlib

SKIP = 77
SOURCE_RGB = (0xE6, 0x9F, 0x00)  # the page's colours of the two skeletons
FILE_RGB = (0x00, 0x72, 0xB2)


def find_chromium():
    for name in (os.environ.get('QVL_CHROMIUM', ''), 'chromium', 'chromium-browser', 'google-chrome'):
        if name and shutil.which(name):
            return shutil.which(name)
    return None


class Browser:
    """One headless Chromium; commands and events as JSON messages ended by a zero byte."""

    def __init__(self, exe, profile):
        to_child, self._out = os.pipe()
        self._in, from_child = os.pipe()
        # Above any descriptor the child's 3 and 4 could overwrite before they are in place.
        hi_r = os.dup2(to_child, 100)
        hi_w = os.dup2(from_child, 101)

        def fds():
            os.dup2(hi_r, 3)
            os.dup2(hi_w, 4)

        self.proc = subprocess.Popen(
            [exe, '--headless=new', '--no-sandbox', '--disable-gpu', '--remote-debugging-pipe',
             '--user-data-dir=' + profile, '--no-first-run', '--no-default-browser-check',
             '--disable-extensions', '--hide-scrollbars', '--window-size=1280,1000',
             '--force-device-scale-factor=1', 'about:blank'],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            close_fds=False, preexec_fn=fds)
        for fd in (to_child, from_child, hi_r, hi_w):
            os.close(fd)
        self._buf = b''
        self._id = 0
        self.events = []

    def _read_message(self, deadline):
        while b'\0' not in self._buf:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self._in], [], [], left)[0]:
                raise TimeoutError('no answer from Chromium')
            chunk = os.read(self._in, 1 << 20)
            if not chunk:
                raise EOFError('Chromium closed its pipe')
            self._buf += chunk
        msg, self._buf = self._buf.split(b'\0', 1)
        return json.loads(msg)

    def send(self, method, params=None, session=None, timeout=30):
        self._id += 1
        msg = {'id': self._id, 'method': method, 'params': params or {}}
        if session:
            msg['sessionId'] = session
        os.write(self._out, json.dumps(msg).encode() + b'\0')
        deadline = time.monotonic() + timeout
        while True:
            m = self._read_message(deadline)
            if m.get('id') == self._id:
                if 'error' in m:
                    raise RuntimeError('%s: %s' % (method, m['error']))
                return m.get('result', {})
            self.events.append(m)

    def wait_event(self, method, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            for i, m in enumerate(self.events):
                if m.get('method') == method:
                    return self.events.pop(i)
            self.events.append(self._read_message(deadline))

    def close(self):
        try:
            self.send('Browser.close', timeout=5)
        except Exception:
            pass
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class Page:
    """A page of the browser, with every console error and request it made recorded."""

    def __init__(self, browser):
        self.b = browser
        target = browser.send('Target.createTarget', {'url': 'about:blank'})['targetId']
        self.s = browser.send('Target.attachToTarget', {'targetId': target, 'flatten': True})['sessionId']
        for domain in ('Page', 'Runtime', 'Log', 'Network'):
            browser.send(domain + '.enable', session=self.s)

    def open(self, path):
        self.url = 'file://' + os.path.abspath(path)
        self.b.events.clear()
        start = time.monotonic()
        self.b.send('Page.navigate', {'url': self.url}, self.s)
        self.b.wait_event('Page.loadEventFired', timeout=60)
        return time.monotonic() - start

    def problems(self):
        """Console errors, exceptions, failed requests and any request beyond the page itself."""
        out = []
        for m in self.b.events:
            p, meth = m.get('params', {}), m.get('method')
            if meth == 'Runtime.exceptionThrown':
                out.append('exception: %s' % p['exceptionDetails'].get('exception', {}).get('description', p))
            elif meth == 'Runtime.consoleAPICalled' and p.get('type') in ('error', 'assert'):
                out.append('console: %s' % [a.get('value', a.get('description')) for a in p.get('args', [])])
            elif meth == 'Log.entryAdded' and p['entry'].get('level') == 'error':
                out.append('log: %s' % p['entry'].get('text'))
            elif meth == 'Network.loadingFailed':
                out.append('failed request: %s' % p.get('errorText'))
            elif meth == 'Network.requestWillBeSent' and p['request']['url'] != self.url:
                out.append('request: %s' % p['request']['url'])
        return out

    def eval(self, expr):
        r = self.b.send('Runtime.evaluate', {'expression': expr, 'returnByValue': True}, self.s)
        if 'exceptionDetails' in r:
            raise RuntimeError('%s: %s' % (expr, r['exceptionDetails']))
        return r['result'].get('value')

    def screenshot(self):
        return base64.b64decode(self.b.send('Page.captureScreenshot', {'format': 'png'}, self.s)['data'])

    def click(self, x, y):
        for kind in ('mousePressed', 'mouseReleased'):
            self.b.send('Input.dispatchMouseEvent',
                        {'type': kind, 'x': x, 'y': y, 'button': 'left', 'clickCount': 1}, self.s)

    def key(self, key, code):
        for kind in ('rawKeyDown', 'keyUp'):
            self.b.send('Input.dispatchKeyEvent', {'type': kind, 'key': key, 'code': code}, self.s)


def decode_png(data):
    """(width, height, rows of RGB tuples) of an 8-bit, non-interlaced RGB or RGBA PNG."""
    assert data[:8] == b'\x89PNG\r\n\x1a\n'
    pos, idat, head = 8, b'', None
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        pos += 12 + n
        if kind == b'IHDR':
            head = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat += body
    w, h, depth, ctype, _, _, interlace = head
    assert depth == 8 and ctype in (2, 6) and interlace == 0, head
    bpp = 3 if ctype == 2 else 4
    raw, stride, prev, rows, at = zlib.decompress(idat), w * bpp, bytearray(w * bpp), [], 0
    for _ in range(h):
        f, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[i:i + 3]) for i in range(0, stride, bpp)])
        prev = line
    return w, h, rows


def count_near(rows, rgb, tol=40):
    return sum(1 for row in rows for p in row if max(abs(p[i] - rgb[i]) for i in range(3)) <= tol)


# ---- The ctest case ----

HOSTILE = '</script><b id="pwn">&amp; "q" \'a\' <!--'


def kvt_str(s):
    return '"' + s.replace('\\', '\\\\').replace('"', '\\"') + '"'


def write_clip(d):
    """A chain Root -> Tip -> HOSTILE: Root slides along x and turns about z, Tip
    turns about x (which does not move HOSTILE's joint, on Tip's x axis); HOSTILE
    holds its rest pose. rest.kvt has the chain, flat.rest.kvt the same bones
    without parent keys. Returns the number of keys and model(k, flat): the
    model position of each bone by name at key k."""
    keys = 11

    def angles(k):
        return 0.3 * k, 0.2 * k

    def zq(a):
        return (0.0, 0.0, math.sin(a / 2), math.cos(a / 2))

    def xq(a):
        return (math.sin(a / 2), 0.0, 0.0, math.cos(a / 2))

    def path(name, parent, frames):
        lines = ['  path_array {' if name == 'Root' else '  } {', '    name ' + kvt_str(name)]
        if parent:
            lines.append('    parent ' + kvt_str(parent))
        lines.append('    range 0.0 %r' % frames[-1][0])
        lines.append('    frame_array {')
        for i, (t, tr, q) in enumerate(frames):
            if i:
                lines.append('    } {')
            lines += ['      key %r' % t, '      transl %r %r %r' % tr, '      quat %r %r %r %r' % q]
        lines.append('    }')
        return lines

    def doc(title, paths):
        return '\n'.join(['// ' + title, 'format "quorvel_path_5"', 'data {'] + paths + ['  }', '}', ''])

    ident = (0.0, 0.0, 0.0, 1.0)
    rest = [('Root', None, [(0.0, (0.0, 0.0, 0.0), ident)]), ('Tip', 'Root', [(0.0, (0.0, 1.0, 0.0), ident)]),
            (HOSTILE, 'Tip', [(0.0, (0.5, 0.0, 0.0), ident)])]
    anim = [('Root', None, [(k / 10, (0.1 * k, 0.0, 0.0), zq(angles(k)[0])) for k in range(keys)]),
            ('Tip', 'Root', [(k / 10, (0.0, 1.0, 0.0), xq(angles(k)[1])) for k in range(keys)]),
            (HOSTILE, 'Tip', [(k / 10, (0.5, 0.0, 0.0), ident) for k in range(keys)])]
    with open(os.path.join(d, 'rest.kvt'), 'w') as f:
        f.write(doc('rest pose', sum((path(*p) for p in rest), [])))
    with open(os.path.join(d, 'flat.rest.kvt'), 'w') as f:
        f.write(doc('rest pose without parents', sum((path(n, None, fr) for n, _, fr in rest), [])))
    with open(os.path.join(d, 'anim.kvt'), 'w') as f:
        f.write(doc('clip', sum((path(n, None, fr) for n, _, fr in anim), [])))

    def model(k, flat):
        th = angles(k)[0]
        root = (0.1 * k, 0.0, 0.0)
        if flat:  # every bone a top bone: its own translation
            return {'Root': root, 'Tip': (0.0, 1.0, 0.0), HOSTILE: (0.5, 0.0, 0.0)}
        tip = (root[0] - math.sin(th), math.cos(th), 0.0)
        end = (tip[0] + 0.5 * math.cos(th), tip[1] + 0.5 * math.sin(th), 0.0)
        return {'Root': root, 'Tip': tip, HOSTILE: end}

    return keys, model


def run(args, cwd):
    r = subprocess.run(args, cwd=cwd, capture_output=True, text=True, timeout=120)
    if r.returncode != 0:
        raise AssertionError('%s failed (%d):\n%s%s' % (args, r.returncode, r.stdout, r.stderr))


def check_page(page, d, name, keys, model, tol, failures, flat=False):
    def fail(msg):
        failures.append('%s: %s' % (name, msg))

    page.open(os.path.join(d, name + '.html'))
    failures += ['%s: %s' % (name, p) for p in page.problems()]
    report = json.load(open(os.path.join(d, name + '.json')))
    view = page.eval('({bones: animView.bones, times: animView.times, table: animView.table})')
    # The skeleton's order, parents first; without one, top bones by name.
    if view['bones'] != ([HOSTILE, 'Root', 'Tip'] if flat else ['Root', 'Tip', HOSTILE]):
        fail('bones %r' % view['bones'])
    if [round(t * 10) for t in view['times']] != list(range(keys)):
        fail('times %r' % view['times'])
    # Every number of the table is the JSON report's, field by field.
    want = [{k: v for k, v in b.items()} for b in report['bones']]
    if view['table'] != want:
        fail('table %r\n!= JSON %r' % (view['table'], want))
    for i in range(len(view['times'])):
        p = page.eval('animView.poses(%d)' % i)
        for which, t in (('source', 1e-5), ('file', tol)):
            for bone, got in zip(view['bones'], p[which]):
                exp = model(i, flat)[bone]
                if max(abs(g - e) for g, e in zip(got, exp)) > t:
                    fail('%s pose of %r at time %d: %r, not %r' % (which, bone, i, got, exp))
    # The errors the page holds are the report's: their largest per bone. A flat
    # skeleton has none to show, and the page says why.
    if page.eval('document.getElementById("errColour").disabled') != flat:
        fail('error colouring offered: %r' % (not flat))
    if flat != ('flat skeleton' in page.eval('document.getElementById("note").textContent')):
        fail('the note on the flat skeleton')
    errs = page.eval('animView.times.map((t, i) => animView.errors(i))')
    for b, row in enumerate([] if flat else report['bones']):
        idx = view['bones'].index(row['name'])
        got = max(e[idx] for e in errs)
        if abs(got - row['obj_err_max']) > 1e-6 * max(1.0, row['obj_err_max']):
            fail('largest error of %r: %r, the report %r' % (row['name'], got, row['obj_err_max']))
    # Names are text: the hostile one is shown as it is and adds no element.
    shown = page.eval('[...document.querySelectorAll("#rows td.name")].map(e => e.textContent)')
    if sorted(shown) != sorted(b['name'] for b in report['bones']):
        fail('names shown %r' % shown)
    if page.eval('document.getElementById("pwn") !== null || document.scripts.length !== 2'):
        fail('a name became markup')
    if page.eval('document.getElementById("file").textContent') != report['file']:
        fail('header file name')


def test(d, animinspect, boneanim):
    exe = find_chromium()
    if not exe:
        print('SKIP: no Chromium (chromium, chromium-browser or google-chrome; or QVL_CHROMIUM)')
        return SKIP
    os.makedirs(d, exist_ok=True)
    keys, model = write_clip(d)
    for name, rest, compress in (('plain', 'rest', 'false'), ('packed', 'rest', 'true'),
                                 ('flat', 'flat.rest', 'false')):
        with open(os.path.join(d, name + '.job.kvt'), 'w') as f:
            f.write('ref_path "%s.kvt"\nanim_path "anim.kvt"\ndo_transl true\ndo_quat true\n'
                    'compress %s\nidentity_eps_transl 0.0001\nidentity_eps_quat 0.0001\n' % (rest, compress))
        run([boneanim, name + '.job.kvt', name + '.kvt', '-quiet', '1'], d)
        run([animinspect, name + '.kvt', '-job', name + '.job.kvt', '-json', name + '.json', '-html',
             name + '.html', '-quiet', '1'], d)
    with tempfile.TemporaryDirectory() as profile:
        browser = Browser(exe, profile)
        try:
            try:
                page = Page(browser)
            except (EOFError, TimeoutError) as e:
                print('SKIP: Chromium does not run here (%s)' % e)
                return SKIP
            failures = []
            check_page(page, d, 'plain', keys, model, 1e-5, failures)
            # Packed translations are within half a step: 2^-9 of 1 per axis, summed down the chain.
            check_page(page, d, 'packed', keys, model, 0.02, failures)
            check_page(page, d, 'flat', keys, model, 1e-5, failures, flat=True)
            # Two times give two pictures, each with both skeletons' colours.
            shots = []
            for t in ('animView.times[0]', 'animView.times[animView.times.length - 1]'):
                page.eval('animView.seek(%s)' % t)
                shots.append(decode_png(page.screenshot())[2])
            changed = sum(1 for ra, rb in zip(*shots) for pa, pb in zip(ra, rb) if pa != pb)
            if changed < 200:
                failures.append('the pictures at two times differ in %d pixels only' % changed)
            for i, rows in enumerate(shots):
                for what, rgb in (('source', SOURCE_RGB), ('file', FILE_RGB)):
                    if count_near(rows, rgb) < 30:
                        failures.append('picture %d: too little of the %s colour' % (i, what))
            # The keys: the right arrow steps one key of the file, a click on the chart seeks there.
            page.eval('animView.seek(0)')
            page.key('ArrowRight', 'ArrowRight')
            page.key('ArrowRight', 'ArrowRight')
            if page.eval('animView.key') != 2:
                failures.append('two right arrows give key %r' % page.eval('animView.key'))
            r = page.eval('(() => { const r = document.getElementById("chart").getBoundingClientRect();'
                          ' return [r.left, r.top, r.width, r.height]; })()')
            page.click(r[0] + 62 + 0.5 * (r[2] - 72), r[1] + r[3] / 2)
            t = page.eval('animView.time')
            if abs(t - 0.5) > 0.02:
                failures.append('a click in the chart\'s middle seeks to %r' % t)
            # The space bar plays (the time moves on from t, looping) and pauses (it stays).
            page.key(' ', 'Space')
            time.sleep(0.3)
            page.key(' ', 'Space')
            played = page.eval('animView.time')
            time.sleep(0.2)
            if played == t or not 0.0 <= played <= 1.0 or page.eval('animView.time') != played:
                failures.append('space, 0.3 s, space: time %r, then %r' % (played, page.eval('animView.time')))
            failures += ['after the interaction: %s' % p for p in page.problems()]
        finally:
            browser.close()
    for f in failures:
        print('FAIL:', f)
    print('%d failures' % len(failures))
    return 1 if failures else 0


def shot(page_file, png):
    """Prints the page's size and load times (navigation to load event, and the
    script's own), and saves a screenshot of it with the error colouring on."""
    exe = find_chromium()
    if not exe:
        print('no Chromium')
        return SKIP
    with tempfile.TemporaryDirectory() as profile:
        browser = Browser(exe, profile)
        try:
            page = Page(browser)
            wall = page.open(page_file)
            nav = page.eval('performance.getEntriesByType("navigation")[0].toJSON()')
            print('%s: %d bytes, load event %.0f ms after navigation start (%.0f ms wall), %d times'
                  % (page_file, os.path.getsize(page_file), nav['loadEventStart'], wall * 1000,
                     page.eval('animView.times.length')))
            for p in page.problems():
                print('problem:', p)
            if png:
                page.eval('animView.setErrorColouring(true);'
                          ' animView.seek(animView.times[animView.times.length >> 1])')
                with open(png, 'wb') as f:
                    f.write(page.screenshot())
        finally:
            browser.close()
    return 0


if __name__ == '__main__':
    if len(sys.argv) == 5 and sys.argv[1] == 'test':
        sys.exit(test(*sys.argv[2:]))
    if len(sys.argv) in (3, 4) and sys.argv[1] == 'shot':
        sys.exit(shot(sys.argv[2], sys.argv[3] if len(sys.argv) == 4 else None))
    print(__doc__)
    sys.exit(2)
