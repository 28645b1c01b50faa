#!/usr/bin/env python3
"""The size and load time of animinspect's HTML page for a real clip (CMU 01_01,
31 joints, 2,752 frames): imported with animimport (whose rest pose names every
joint's parent), converted packed by boneanim, then the page written and opened
five times in headless Chromium.

  bench_inspect_html.py BUILD_DIR [CLIP.bvh]
"""
import os, statistics, subprocess, sys, tempfile, time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, '..', 'tests', 'tool', 'animinspect'))
import animinspect_html_browser as browser  # noqa: E402


def main(build, clip):
    tool = lambda name: os.path.join(build, 'tool', name, name)
    with tempfile.TemporaryDirectory() as d:
        subprocess.run([tool('animimport'), clip, d, '-quiet', '1'], check=True, capture_output=True)
        name = os.path.splitext(os.path.basename(clip))[0]
        job = os.path.join(d, name + '.job.kvt')
        packed = open(job).read().replace('compress false', 'compress true')
        open(job, 'w').write(packed)
        subprocess.run([tool('boneanim'), job, os.path.join(d, 'rt.kvt'), '-refdir', d, '-quiet', '1'],
                       check=True, capture_output=True)
        page = os.path.join(d, 'page.html')
        start = time.monotonic()
        subprocess.run([tool('animinspect'), os.path.join(d, 'rt.kvt'), '-job', job, '-refdir', d, '-html',
                        page, '-quiet', '1'], check=True, capture_output=True)
        write = time.monotonic() - start
        exe = browser.find_chromium()
        if not exe:
            print('no Chromium')
            return 1
        loads = []
        with tempfile.TemporaryDirectory() as profile:
            b = browser.Browser(exe, profile)
            try:
                p = browser.Page(b)
                for _ in range(5):
                    p.open(page)
                    loads.append(p.eval('performance.getEntriesByType("navigation")[0].loadEventStart'))
                    assert not p.problems(), p.problems()
                held = p.eval('animView.times.length')
                bones = p.eval('animView.bones.length')
            finally:
                b.close()
        print('%s: page %d bytes (%.2f MB), %d times x %d bones; animinspect -html %.2f s;'
              ' load event after %s ms (median %.0f ms)'
              % (name, os.path.getsize(page), os.path.getsize(page) / 1e6, held, bones, write,
                 ', '.join('%.0f' % v for v in loads), statistics.median(loads)))
    return 0


if __name__ == '__main__':
    if len(sys.argv) not in (2, 3):
        print(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2] if len(sys.argv) == 3 else
                  os.path.join(here, '..', '..', 'shared', 'data', 'real', 'bvh-cmu-01_01', '01_01.bvh')))
