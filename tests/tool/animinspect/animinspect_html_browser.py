#!/usr/bin/env python3
"""animinspect -html in a real browser: headless Chromium, driven through its
DevTools protocol on a pipe (fds 3 and 4), opens the page from file:// and
checks what it shows against the JSON report of the same run.

  test DIR ANIMINSPECT BONEANIM   the ctest case; exit 77 (skip) without Chromium
  shot PAGE [PNG]                 load time of a page, and a screenshot of it
"""
import base64, contextlib, json, math, os, select, shutil, struct, subprocess, sys, tempfile, time, zlib

SKIP = 77
SOURCE_RGB, FILE_RGB = (0xE6, 0x9F, 0x00), (0x00, 0x72, 0xB2)  # the page's colours of the two skeletons


def find_chromium():
    names = (os.environ.get('QVL_CHROMIUM', ''), 'chromium', 'chromium-browser', 'google-chrome')
    return next((shutil.which(n) for n in names if n and shutil.which(n)), None)


class Browser:
    """One headless Chromium; commands and events as JSON messages ended by a zero byte."""

    def __init__(self, exe, profile):
        to_child, self._out = os.pipe()
        self._in, from_child = os.pipe()
        # Above any descriptor the child's 3 and 4 could overwrite before they are in place.
        hi = (os.dup2(to_child, 100), os.dup2(from_child, 101))
        self.proc = subprocess.Popen(
            [exe, '--headless=new', '--no-sandbox', '--disable-gpu', '--remote-debugging-pipe',
             '--user-data-dir=' + profile, '--no-first-run', '--no-default-browser-check',
             '--disable-extensions', '--hide-scrollbars', '--window-size=1280,1000',
             '--force-device-scale-factor=1', 'about:blank'],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            close_fds=False, preexec_fn=lambda: (os.dup2(hi[0], 3), os.dup2(hi[1], 4)))
        for fd in (to_child, from_child) + hi:
            os.close(fd)
        self._buf, self._id, self.events = b'', 0, []

    def next_message(self, deadline):
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
        """The result of a command; events arriving meanwhile are kept in events."""
        self._id += 1
        msg = {'id': self._id, 'method': method, 'params': params or {}}
        os.write(self._out, json.dumps(dict(msg, sessionId=session) if session else msg).encode() + b'\0')
        deadline = time.monotonic() + timeout
        while (m := self.next_message(deadline)).get('id') != self._id:
            self.events.append(m)
        if 'error' in m:
            raise RuntimeError('%s: %s' % (method, m['error']))
        return m.get('result', {})

    def close(self):
        with contextlib.suppress(Exception):
            self.send('Browser.close', timeout=5)
        with contextlib.suppress(subprocess.TimeoutExpired):
            self.proc.wait(10)
        self.proc.kill()  # nothing when it has ended
        self.proc.wait()


class Page:
    """A page of the browser, with every console error and request it made recorded."""

    def __init__(self, browser):
        self.b = browser
        target = browser.send('Target.createTarget', {'url': 'about:blank'})['targetId']
        self.s = browser.send('Target.attachToTarget', {'targetId': target, 'flatten': True})['sessionId']
        for domain in ('Page', 'Runtime', 'Log', 'Network'):
            self.send(domain + '.enable')

    def send(self, method, params=None, timeout=30):
        return self.b.send(method, params, self.s, timeout)

    def open(self, path):
        """Seconds from navigation to the load event."""
        self.url = 'file://' + os.path.abspath(path)
        self.b.events.clear()
        start = time.monotonic()
        self.send('Page.navigate', {'url': self.url})
        deadline = start + 60
        while not any(m.get('method') == 'Page.loadEventFired' for m in self.b.events):
            self.b.events.append(self.b.next_message(deadline))
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
        r = self.send('Runtime.evaluate', {'expression': expr, 'returnByValue': True})
        if 'exceptionDetails' in r:
            raise RuntimeError('%s: %s' % (expr, r['exceptionDetails']))
        return r['result'].get('value')

    def screenshot(self):
        return base64.b64decode(self.send('Page.captureScreenshot', {'format': 'png'})['data'])

    def click(self, x, y):
        for kind in ('mousePressed', 'mouseReleased'):
            self.send('Input.dispatchMouseEvent', dict(type=kind, x=x, y=y, button='left', clickCount=1))

    def key(self, key, code):
        for kind in ('rawKeyDown', 'keyUp'):
            self.send('Input.dispatchKeyEvent', {'type': kind, 'key': key, 'code': code})


def decode_png(data):
    """Rows of RGB tuples of an 8-bit, non-interlaced RGB or RGBA PNG."""
    assert data[:8] == b'\x89PNG\r\n\x1a\n'
    pos, chunks = 8, {}
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        chunks[kind] = chunks.get(kind, b'') + data[pos + 8:pos + 8 + n]
        pos += 12 + n
    w, h, depth, ctype, _, _, interlace = head = struct.unpack('>IIBBBBB', chunks[b'IHDR'])
    assert depth == 8 and ctype in (2, 6) and interlace == 0, head
    bpp = 3 if ctype == 2 else 4
    raw, stride, prev, rows = zlib.decompress(chunks[b'IDAT']), w * bpp, bytearray(w * bpp), []
    for y in range(h):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride) if f else ():
            a, b, c = (line[i - bpp], prev[i], prev[i - bpp]) if i >= bpp else (0, prev[i], 0)
            if f == 4:  # Paeth: of a, b, c the one nearest a + b - c
                b = min((abs(b - c), 0, a), (abs(a - c), 1, b), (abs(a + b - 2 * c), 2, c))[2]
            line[i] = (line[i] + (a, b, (a + b) // 2, b)[f - 1]) & 255
        rows.append([tuple(line[i:i + 3]) for i in range(0, stride, bpp)])
        prev = line
    return rows


def count_near(rows, rgb, tol=40):
    return sum(1 for row in rows for p in row if max(abs(p[i] - rgb[i]) for i in range(3)) <= tol)


# ---- The ctest case ----

HOSTILE = '</script><b id="pwn">&amp; "q" \'a\' <!--'
KEYS = 11


def kvt_str(s):
    return '"' + s.replace('\\', '\\\\').replace('"', '\\"') + '"'


def half_turn(a, axis):
    return tuple(math.sin(a / 2) if i == axis else 0.0 for i in range(3)) + (math.cos(a / 2),)


# The chain Root -> Tip -> HOSTILE with its rest translations, and the local
# pose at key k: Root slides along x and turns about z, Tip turns about x
# (which does not move HOSTILE's joint, on Tip's x axis), HOSTILE holds still.
CHAIN = [('Root', None, (0.0, 0.0, 0.0), lambda k: ((0.1 * k, 0.0, 0.0), half_turn(0.3 * k, 2))),
         ('Tip', 'Root', (0.0, 1.0, 0.0), lambda k: ((0.0, 1.0, 0.0), half_turn(0.2 * k, 0))),
         (HOSTILE, 'Tip', (0.5, 0.0, 0.0), lambda k: ((0.5, 0.0, 0.0), (0.0, 0.0, 0.0, 1.0)))]


def write_clip(d):
    """rest.kvt has the chain, flat.rest.kvt the same bones without parent keys,
    anim.kvt the clip of KEYS keys, 0.1 apart."""
    def doc(name, title, parents, frames):
        paths = []
        for bone, parent, rest, pose in CHAIN:
            fr = frames(rest, pose)
            keys = ' } { '.join('key %r transl %r %r %r quat %r %r %r %r' % (t, *tr, *q) for t, tr, q in fr)
            paths.append('name %s%s range 0.0 %r frame_array { %s }' % (
                kvt_str(bone), ' parent ' + kvt_str(parent) if parents and parent else '', fr[-1][0], keys))
        with open(os.path.join(d, name), 'w') as f:
            f.write('// %s\nformat "quorvel_path_5"\ndata {\n  path_array {\n    %s\n  }\n}\n'
                    % (title, '\n  } {\n    '.join(paths)))

    still = lambda rest, _: [(0.0, rest, (0.0, 0.0, 0.0, 1.0))]
    doc('rest.kvt', 'rest pose', True, still)
    doc('flat.rest.kvt', 'rest pose without parents', False, still)
    doc('anim.kvt', 'clip', False, lambda _, pose: [(k / 10, *pose(k)) for k in range(KEYS)])


def model(k, flat):
    """The model position of each bone by name at key k; flat: every bone a top bone."""
    th, root = 0.3 * k, (0.1 * k, 0.0, 0.0)
    if flat:
        return {'Root': root, 'Tip': (0.0, 1.0, 0.0), HOSTILE: (0.5, 0.0, 0.0)}
    tip = (root[0] - math.sin(th), math.cos(th), 0.0)
    end = (tip[0] + 0.5 * math.cos(th), tip[1] + 0.5 * math.sin(th), 0.0)
    return {'Root': root, 'Tip': tip, HOSTILE: end}


def run(args, cwd):
    r = subprocess.run(args, cwd=cwd, capture_output=True, text=True, timeout=120)
    if r.returncode != 0:
        raise AssertionError('%s failed (%d):\n%s%s' % (args, r.returncode, r.stdout, r.stderr))


def check_page(page, d, name, tol, flat):
    """The failures of one page against its JSON report; tol: of the file's poses."""
    page.open(os.path.join(d, name + '.html'))
    out = page.problems()
    report = json.load(open(os.path.join(d, name + '.json')))
    v = page.eval('({bones: animView.bones, times: animView.times, table: animView.table,'
                  ' poses: animView.times.map((t, i) => animView.poses(i)),'
                  ' errors: animView.times.map((t, i) => animView.errors(i)),'
                  ' errColourOff: document.getElementById("errColour").disabled,'
                  ' note: document.getElementById("note").textContent,'
                  ' names: [...document.querySelectorAll("#rows td.name")].map(e => e.textContent),'
                  ' markup: document.getElementById("pwn") !== null || document.scripts.length !== 2,'
                  ' file: document.getElementById("file").textContent})')
    bad_poses = ['%s pose of %r at time %d: %r' % (which, bone, i, got)
                 for i, p in enumerate(v['poses']) for which, t in (('source', 1e-5), ('file', tol))
                 for bone, got in zip(v['bones'], p[which])
                 if max(abs(g - e) for g, e in zip(got, model(i, flat)[bone])) > t]
    # The largest error per bone is the report's; a flat skeleton has none to show, and the page says why.
    bad_errors = [] if flat else [
        (r['name'], got, r['obj_err_max']) for r in report['bones']
        if abs((got := max(e[v['bones'].index(r['name'])] for e in v['errors'])) - r['obj_err_max'])
        > 1e-6 * max(1.0, r['obj_err_max'])]
    checks = [  # what, as it is, as it should be
        # The skeleton's order, parents first; without one, top bones by name.
        ('bones', v['bones'], [HOSTILE, 'Root', 'Tip'] if flat else ['Root', 'Tip', HOSTILE]),
        ('times', [round(t * 10) for t in v['times']], list(range(KEYS))),
        ('table (every number the JSON report\'s)', v['table'], report['bones']),
        ('poses off the model', bad_poses, []),
        ('largest errors unlike the report', bad_errors, []),
        ('error colouring disabled', v['errColourOff'], flat),
        ('note on the flat skeleton', 'flat skeleton' in v['note'], flat),
        # Names are text: the hostile one is shown as it is and adds no element.
        ('names shown', sorted(v['names']), sorted(b['name'] for b in report['bones'])),
        ('a name became markup', v['markup'], False),
        ('header file name', v['file'], report['file']),
    ]
    return out + ['%s: %r, not %r' % (what, got, want) for what, got, want in checks if got != want]


def check_interaction(page):
    """The failures of the pictures and the controls of the open page."""
    out = []
    # Two times give two pictures, each with both skeletons' colours.
    shots = []
    for t in ('animView.times[0]', 'animView.times[animView.times.length - 1]'):
        page.eval('animView.seek(%s)' % t)
        shots.append(decode_png(page.screenshot()))
    changed = sum(pa != pb for ra, rb in zip(*shots) for pa, pb in zip(ra, rb))
    out += ['the pictures at two times differ in %d pixels only' % changed] if changed < 200 else []
    out += ['picture %d: too little of the %s colour' % (i, what) for i, rows in enumerate(shots)
            for what, rgb in (('source', SOURCE_RGB), ('file', FILE_RGB)) if count_near(rows, rgb) < 30]
    # The right arrow steps one key of the file, a click on the chart seeks there.
    page.eval('animView.seek(0)')
    page.key('ArrowRight', 'ArrowRight')
    page.key('ArrowRight', 'ArrowRight')
    if page.eval('animView.key') != 2:
        out.append('two right arrows give key %r' % page.eval('animView.key'))
    r = page.eval('(() => { const r = document.getElementById("chart").getBoundingClientRect();'
                  ' return [r.left, r.top, r.width, r.height]; })()')
    page.click(r[0] + 62 + 0.5 * (r[2] - 72), r[1] + r[3] / 2)
    if abs((t := page.eval('animView.time')) - 0.5) > 0.02:
        out.append('a click in the chart\'s middle seeks to %r' % t)
    # The space bar plays (the time moves on from t, looping) and pauses (it stays).
    page.key(' ', 'Space')
    time.sleep(0.3)
    page.key(' ', 'Space')
    played = page.eval('animView.time')
    time.sleep(0.2)
    if played == t or not 0.0 <= played <= 1.0 or page.eval('animView.time') != played:
        out.append('space, 0.3 s, space: time %r, then %r' % (played, page.eval('animView.time')))
    return out + ['after the interaction: %s' % p for p in page.problems()]


def test(d, animinspect, boneanim):
    exe = find_chromium()
    if not exe:
        print('SKIP: no Chromium (chromium, chromium-browser or google-chrome; or QVL_CHROMIUM)')
        return SKIP
    os.makedirs(d, exist_ok=True)
    write_clip(d)
    # Packed translations are within half a step: 2^-9 of 1 per axis, summed down the chain.
    pages = (('plain', 'rest', 'false', 1e-5), ('packed', 'rest', 'true', 0.02),
             ('flat', 'flat.rest', 'false', 1e-5))
    for name, rest, compress, _ in pages:
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
            failures = ['%s: %s' % (name, f) for name, _, _, tol in pages
                        for f in check_page(page, d, name, tol, name == 'flat')]
            failures += check_interaction(page)  # of the flat page, the last one open
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
