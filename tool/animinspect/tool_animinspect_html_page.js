// animinspect's page: plays the source's and the runtime file's skeletons over
// each other, with the object-space error over time and the report's table.
// Reads the JSON object of the element #data (written by animinspect -html);
// every text from the files is set as text, never as markup.
(function () {
  'use strict';

  const data = JSON.parse(document.getElementById('data').textContent);

  // Two colours that stay apart for every common kind of colour blindness
  // (orange and blue of the Okabe-Ito set).
  const kSourceColour = '#e69f00';
  const kFileColour = '#0072b2';
  const kSpeeds = [0.1, 0.25, 0.5, 1, 1.5, 2];

  // Base64 of little-endian float32 values.
  function decodeFloats(text) {
    const bin = atob(text);
    const bytes = new Uint8Array(bin.length);
    for (let i = 0; i < bin.length; ++i) bytes[i] = bin.charCodeAt(i);
    const view = new DataView(bytes.buffer);
    const out = new Float32Array(bytes.length >> 2);
    for (let i = 0; i < out.length; ++i) out[i] = view.getFloat32(4 * i, true);
    return out;
  }

  const bones = data.bones;
  const parents = data.parents;
  const nb = bones.length;
  const times = decodeFloats(data.times);
  const nt = times.length;
  const src = decodeFloats(data.source);
  const fil = decodeFloats(data.filePoses);
  const errs = decodeFloats(data.errors);
  const keyTimes = decodeFloats(data.keyTimes);
  const t0 = nt ? times[0] : 0;
  const t1 = nt ? times[nt - 1] : 0;

  // The largest object-space error over all bones at each held time.
  const maxErr = new Float32Array(nt);
  for (let i = 0; i < nt; ++i) {
    let m = 0;
    for (let b = 0; b < nb; ++b) m = Math.max(m, errs[i * nb + b]);
    maxErr[i] = m;
  }

  const boneIndex = new Map();
  bones.forEach((n, i) => boneIndex.set(n, i));

  function fmt(v, digits) {
    if (v === null || v === undefined) return '\u2013';
    if (v === 0) return '0';
    const a = Math.abs(v);
    if (a >= 1e-3 && a < 1e5) return Number(v.toPrecision(digits || 3)).toString();
    return v.toExponential((digits || 3) - 1);
  }
  function el(tag, text, cls) {
    const e = document.createElement(tag);
    if (text !== undefined) e.textContent = text;
    if (cls) e.className = cls;
    return e;
  }

  // ---- Header ----
  document.title = 'animinspect: ' + data.file;
  document.getElementById('file').textContent = data.file;
  const unitCm = data.metersPerUnit ? ' (' + fmt(data.shell * data.metersPerUnit * 100) + ' cm)' : '';
  const channel = (p) => (p === null ? 'none' : p ? 'packed' : 'plain');
  const facts = [
    ['encoding', data.encoding],
    ['keys', String(keyTimes.length)],
    ['range', fmt(data.range[0], 6) + ' \u2013 ' + fmt(data.range[1], 6)],
    ["file's bones", String(data.fileBones)],
    ["skeleton's bones", String(data.skeletonBones)],
    ['bytes', String(data.bytes)],
    ['translation', channel(data.packedTransl)],
    ['rotation', channel(data.packedQuat)],
    ['shell', data.hasSkeleton ? fmt(data.shell) + unitCm + ' (' + data.shellSource + ')' : 'not measured'],
    ['unit', data.metersPerUnit ? fmt(data.metersPerUnit) + ' m' : 'unknown'],
    ['error bound', fmt(data.bound) + ' (' + data.boundSource + ')'],
  ];
  const dl = document.getElementById('facts');
  for (const [k, v] of facts) {
    const d = el('div');
    d.appendChild(el('dt', k));
    d.appendChild(el('dd', v));
    dl.appendChild(d);
  }
  const notes = [];
  if (data.step > 1) {
    notes.push('The clip has ' + data.sourceTimes + ' source times, more than the page holds: every ' +
               data.step + 'th is shown (' + nt + ' times).');
  }
  if (!data.hasSkeleton) {
    notes.push('The reference has no "parent" keys (a flat skeleton): every bone is drawn as a top bone ' +
               'and the object-space error is not measured.');
  }
  document.getElementById('note').textContent = notes.join(' ');

  // ---- State ----
  let time = t0;
  let playing = false;
  let speed = 1;
  let selected = -1;  // a bone of the view, -1 for none
  let colourByError = false;
  const cam = {yaw: 0.6, pitch: 0.35, dist: 5, target: [0, 0, 0]};

  // The held time at or before t.
  function timeIndex(t) {
    let lo = 0, hi = nt - 1;
    if (nt === 0) return -1;
    if (t <= times[0]) return 0;
    while (lo < hi) {
      const mid = (lo + hi + 1) >> 1;
      if (times[mid] <= t) lo = mid; else hi = mid - 1;
    }
    return lo;
  }
  // The runtime key at or before t (0 before the first).
  function keyIndex(t) {
    let k = 0;
    for (let lo = 0, hi = keyTimes.length - 1; lo <= hi;) {
      const mid = (lo + hi) >> 1;
      if (keyTimes[mid] <= t) { k = mid; lo = mid + 1; } else hi = mid - 1;
    }
    return k;
  }

  // ---- 3D view ----
  const view = document.getElementById('view');
  const vctx = view.getContext('2d');
  const chart = document.getElementById('chart');
  const cctx = chart.getContext('2d');
  function fitCanvas(c, ctx) {
    const r = window.devicePixelRatio || 1;
    c.width = Math.round(c.clientWidth * r);
    c.height = Math.round(c.clientHeight * r);
    ctx.setTransform(r, 0, 0, r, 0, 0);
  }

  // Bounds of every position of both skeletons.
  const lo = [Infinity, Infinity, Infinity], hi = [-Infinity, -Infinity, -Infinity];
  for (const arr of [src, fil]) {
    for (let i = 0; i < arr.length; i += 3) {
      for (let a = 0; a < 3; ++a) {
        const v = arr[i + a];
        if (Number.isFinite(v)) { lo[a] = Math.min(lo[a], v); hi[a] = Math.max(hi[a], v); }
      }
    }
  }
  if (!(lo[0] <= hi[0])) { lo.fill(-1); hi.fill(1); }
  const extent = Math.max(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]) || 1;
  const groundY = lo[1];

  function frameClip() {
    cam.target = [(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2];
    const dx = hi[0] - lo[0], dy = hi[1] - lo[1], dz = hi[2] - lo[2];
    const radius = Math.max(0.5 * Math.sqrt(dx * dx + dy * dy + dz * dz), 1e-6);
    cam.dist = radius / Math.tan(0.5 * 0.8) * 1.15;
  }

  // The camera: y up, looking at the target from yaw and pitch.
  function projector() {
    const w = view.clientWidth, h = view.clientHeight;
    const cy = Math.cos(cam.yaw), sy = Math.sin(cam.yaw), cp = Math.cos(cam.pitch), sp = Math.sin(cam.pitch);
    const eye = [cam.target[0] + cam.dist * cp * sy, cam.target[1] + cam.dist * sp,
                 cam.target[2] + cam.dist * cp * cy];
    const f = [cam.target[0] - eye[0], cam.target[1] - eye[1], cam.target[2] - eye[2]];
    const fl = Math.hypot(f[0], f[1], f[2]);
    f[0] /= fl; f[1] /= fl; f[2] /= fl;
    const rl = Math.hypot(f[0], f[2]) || 1;
    const r = [-f[2] / rl, 0, f[0] / rl];  // forward × up, up = +y
    const u = [r[1] * f[2] - r[2] * f[1], r[2] * f[0] - r[0] * f[2], r[0] * f[1] - r[1] * f[0]];
    const focal = 0.5 * h / Math.tan(0.5 * 0.8);
    return function (x, y, z) {
      const px = x - eye[0], py = y - eye[1], pz = z - eye[2];
      const d = px * f[0] + py * f[1] + pz * f[2];
      if (d <= 1e-6 * cam.dist) return null;
      return [w / 2 + focal * (px * r[0] + py * r[1] + pz * r[2]) / d,
              h / 2 - focal * (px * u[0] + py * u[1] + pz * u[2]) / d];
    };
  }

  // A colour for error e against the bound: from the file's blue at 0 to
  // reddish purple at the bound, then to black at twice the bound and beyond;
  // none of them near the source's orange.
  const kScale = [[0, 114, 178], [204, 121, 167], [0, 0, 0]];
  function errorColour(e) {
    const u = Math.min(Math.max(e / (data.bound || 1), 0), 2) / 2 * (kScale.length - 1);
    const i = Math.min(Math.floor(u), kScale.length - 2), f = u - i;
    const c = kScale[i].map((v, a) => Math.round(v + f * (kScale[i + 1][a] - v)));
    return 'rgb(' + c.join(',') + ')';
  }

  function drawSkeleton(P, arr, base, width, radius, colourOf) {
    const pts = new Array(nb);
    for (let b = 0; b < nb; ++b) pts[b] = P(arr[base + 3 * b], arr[base + 3 * b + 1], arr[base + 3 * b + 2]);
    vctx.lineCap = 'round';
    vctx.lineWidth = width;
    for (let b = 0; b < nb; ++b) {
      const p = parents[b];
      if (p < 0 || !pts[b] || !pts[p]) continue;
      vctx.strokeStyle = colourOf(b);
      vctx.beginPath();
      vctx.moveTo(pts[p][0], pts[p][1]);
      vctx.lineTo(pts[b][0], pts[b][1]);
      vctx.stroke();
    }
    for (let b = 0; b < nb; ++b) {
      if (!pts[b]) continue;
      vctx.fillStyle = colourOf(b);
      vctx.beginPath();
      vctx.arc(pts[b][0], pts[b][1], radius, 0, 2 * Math.PI);
      vctx.fill();
    }
    return pts;
  }

  function drawView() {
    const w = view.clientWidth, h = view.clientHeight;
    vctx.clearRect(0, 0, w, h);
    const P = projector();
    // The ground grid under the clip, ten cells a side, at its lowest point.
    const cell = Math.pow(10, Math.round(Math.log10(extent / 4)));
    const gx = Math.round(cam.target[0] / cell) * cell, gz = Math.round(cam.target[2] / cell) * cell;
    vctx.strokeStyle = '#ddd';
    vctx.lineWidth = 1;
    // Each line in cell-long pieces, so that a line passing behind the camera keeps its visible part.
    for (let i = -10; i <= 10; ++i) {
      for (let j = -10; j < 10; ++j) {
        for (const [a, b] of [[[gx + i * cell, gz + j * cell], [gx + i * cell, gz + (j + 1) * cell]],
                              [[gx + j * cell, gz + i * cell], [gx + (j + 1) * cell, gz + i * cell]]]) {
          const p = P(a[0], groundY, a[1]), q = P(b[0], groundY, b[1]);
          if (!p || !q) continue;
          vctx.beginPath();
          vctx.moveTo(p[0], p[1]);
          vctx.lineTo(q[0], q[1]);
          vctx.stroke();
        }
      }
    }
    const ti = timeIndex(time);
    if (ti < 0) return;
    const base = ti * nb * 3;
    // The source wide and first, the file thin on top: both show where they coincide.
    drawSkeleton(P, src, base, 6, 4.5, () => kSourceColour);
    const useErr = colourByError && data.hasSkeleton;
    const pts = drawSkeleton(P, fil, base, 2.5, 2.5,
                             useErr ? (b) => errorColour(errs[ti * nb + b]) : () => kFileColour);
    if (selected >= 0 && pts[selected]) {
      vctx.strokeStyle = '#d00';
      vctx.lineWidth = 2;
      vctx.beginPath();
      vctx.arc(pts[selected][0], pts[selected][1], 9, 0, 2 * Math.PI);
      vctx.stroke();
      vctx.fillStyle = '#000';
      vctx.font = '12px system-ui, sans-serif';
      vctx.fillText(bones[selected], pts[selected][0] + 12, pts[selected][1] - 10);
    }
  }

  // ---- Chart ----
  const kPad = {l: 62, r: 10, t: 10, b: 22};
  function chartX(t, w) { return kPad.l + (t1 > t0 ? (t - t0) / (t1 - t0) : 0) * (w - kPad.l - kPad.r); }
  function drawChart() {
    const w = chart.clientWidth, h = chart.clientHeight;
    cctx.clearRect(0, 0, w, h);
    cctx.font = '11px system-ui, sans-serif';
    cctx.fillStyle = '#444';
    if (!data.hasSkeleton || nt === 0) {
      const why = 'No object-space error: it needs a skeleton ("parent" keys in the reference).';
      cctx.fillText(why, kPad.l, h / 2);
      return;
    }
    let top = Math.max(data.bound * 1.2, 1e-30);
    for (let i = 0; i < nt; ++i) top = Math.max(top, maxErr[i]);
    const y = (v) => h - kPad.b - (v / top) * (h - kPad.t - kPad.b);
    cctx.strokeStyle = '#999';
    cctx.lineWidth = 1;
    cctx.beginPath();
    cctx.moveTo(kPad.l, kPad.t);
    cctx.lineTo(kPad.l, h - kPad.b);
    cctx.lineTo(w - kPad.r, h - kPad.b);
    cctx.stroke();
    cctx.textAlign = 'right';
    for (const v of [0, top / 2, top]) cctx.fillText(fmt(v), kPad.l - 4, y(v) + 4);
    [t0, (t0 + t1) / 2, t1].forEach((t, i) => {
      cctx.textAlign = ['left', 'center', 'right'][i];
      cctx.fillText(fmt(t, 4) + ' s', chartX(t, w) + [-4, 0, 4][i], h - 6);
    });
    cctx.textAlign = 'left';
    // The bound, dashed.
    cctx.setLineDash([5, 4]);
    cctx.strokeStyle = '#c00';
    cctx.beginPath();
    cctx.moveTo(kPad.l, y(data.bound));
    cctx.lineTo(w - kPad.r, y(data.bound));
    cctx.stroke();
    cctx.setLineDash([]);
    const series = (value, colour, width) => {
      cctx.strokeStyle = colour;
      cctx.lineWidth = width;
      cctx.beginPath();
      for (let i = 0; i < nt; ++i) {
        const x = chartX(times[i], w), yy = y(value(i));
        if (i === 0) cctx.moveTo(x, yy); else cctx.lineTo(x, yy);
      }
      cctx.stroke();
    };
    series((i) => maxErr[i], '#555', 1.5);
    if (selected >= 0) series((i) => errs[i * nb + selected], '#d00', 1.5);
    const x = chartX(Math.min(Math.max(time, t0), t1), w);
    cctx.strokeStyle = kFileColour;
    cctx.lineWidth = 1.5;
    cctx.beginPath();
    cctx.moveTo(x, kPad.t);
    cctx.lineTo(x, h - kPad.b);
    cctx.stroke();
  }
  const chartTitle = document.getElementById('chartTitle');
  function updateChartTitle() {
    let t = 'Largest object-space error of all bones over time (grey), bound dashed';
    if (selected >= 0) t += '; bone \u201c' + bones[selected] + '\u201d in red';
    chartTitle.textContent = t + '. Click to seek.';
  }
  chart.addEventListener('click', (ev) => {
    const r = chart.getBoundingClientRect();
    const w = chart.clientWidth;
    const u = (ev.clientX - r.left - kPad.l) / (w - kPad.l - kPad.r);
    seek(t0 + Math.min(Math.max(u, 0), 1) * (t1 - t0));
  });

  // ---- Controls ----
  const slider = document.getElementById('slider');
  slider.min = String(t0);
  slider.max = String(t1);
  const playBtn = document.getElementById('play');
  const timeText = document.getElementById('timeText');
  const keyText = document.getElementById('keyText');
  const errText = document.getElementById('errText');
  const speedSel = document.getElementById('speed');
  for (const s of kSpeeds) {
    const o = el('option', s + 'x');
    o.value = String(s);
    if (s === 1) o.selected = true;
    speedSel.appendChild(o);
  }
  speedSel.addEventListener('change', () => { speed = Number(speedSel.value); });
  const loopBox = document.getElementById('loop');
  const errBox = document.getElementById('errColour');
  errBox.disabled = !data.hasSkeleton;
  document.getElementById('swSource').style.background = kSourceColour;
  document.getElementById('swFile').style.background = kFileColour;
  const rgb = (c) => 'rgb(' + c.join(',') + ')';
  document.getElementById('scaleBar').style.background =
      'linear-gradient(to right, ' + rgb(kScale[0]) + ', ' + rgb(kScale[1]) + ')';
  document.getElementById('scaleBar2').style.background =
      'linear-gradient(to right, ' + rgb(kScale[1]) + ', ' + rgb(kScale[2]) + ')';
  document.getElementById('scaleMid').textContent = fmt(data.bound) + ' (bound)';
  document.getElementById('scale1').textContent = '\u2265 ' + fmt(2 * data.bound);
  errBox.addEventListener('change', () => {
    colourByError = errBox.checked;
    document.getElementById('scale').style.display = colourByError ? 'flex' : 'none';
    render();
  });

  function render() {
    slider.value = String(time);
    const ti = timeIndex(time);
    timeText.textContent =
        'time ' + time.toFixed(4) + ' s' + (ti >= 0 ? ' (pose at ' + fmt(times[ti], 6) + ')' : '');
    keyText.textContent =
        keyTimes.length ? 'key ' + keyIndex(time) + ' of 0\u2013' + (keyTimes.length - 1) : 'no keys';
    errText.textContent = data.hasSkeleton && ti >= 0 ? 'largest error ' + fmt(maxErr[ti]) : '';
    playBtn.textContent = playing ? 'Pause' : 'Play';
    drawView();
    drawChart();
  }
  function seek(t) {
    time = Math.min(Math.max(t, t0), t1);
    render();
  }
  function stepKey(dir) {
    if (!keyTimes.length) return;
    const k = keyIndex(time);
    let target = k + dir;
    if (dir < 0 && time > keyTimes[k]) target = k;  // between keys: back to the one before
    seek(keyTimes[Math.min(Math.max(target, 0), keyTimes.length - 1)]);
  }
  let last = null;
  function tick(now) {
    if (!playing) { last = null; return; }
    if (last !== null) {
      let t = time + (now - last) / 1000 * speed;
      if (t > t1) {
        if (loopBox.checked && t1 > t0) t = t0 + ((t - t0) % (t1 - t0));
        else { t = t1; playing = false; }
      }
      time = t;
      render();
    }
    last = now;
    requestAnimationFrame(tick);
  }
  function togglePlay() {
    if (!playing && time >= t1 && !loopBox.checked) time = t0;
    playing = !playing;
    render();
    if (playing) requestAnimationFrame(tick);
  }
  playBtn.addEventListener('click', togglePlay);
  document.getElementById('prevKey').addEventListener('click', () => stepKey(-1));
  document.getElementById('nextKey').addEventListener('click', () => stepKey(1));
  document.getElementById('frame').addEventListener('click', () => { frameClip(); render(); });
  slider.addEventListener('input', () => seek(Number(slider.value)));
  // Space and the arrows work everywhere on the page, also with the slider focused.
  document.addEventListener('keydown', (ev) => {
    if (ev.target && ev.target.tagName === 'SELECT') return;
    if (ev.key === ' ') togglePlay();
    else if (ev.key === 'ArrowLeft') stepKey(-1);
    else if (ev.key === 'ArrowRight') stepKey(1);
    else return;
    ev.preventDefault();
  }, true);

  // Orbit by dragging, zoom by the wheel.
  let drag = null;
  view.addEventListener('pointerdown', (ev) => {
    drag = [ev.clientX, ev.clientY];
    view.setPointerCapture(ev.pointerId);
  });
  view.addEventListener('pointermove', (ev) => {
    if (!drag) return;
    cam.yaw -= (ev.clientX - drag[0]) * 0.01;
    cam.pitch = Math.min(Math.max(cam.pitch + (ev.clientY - drag[1]) * 0.01, -1.5), 1.5);
    drag = [ev.clientX, ev.clientY];
    render();
  });
  view.addEventListener('pointerup', () => { drag = null; });
  view.addEventListener('wheel', (ev) => {
    ev.preventDefault();
    cam.dist *= Math.exp(ev.deltaY * 0.001);
    render();
  }, {passive: false});

  // ---- The bones' table ----
  const columns = [
    ['bone', (r) => r.name],
    ['kept', (r) => (r.kept ? 'kept' : 'dropped')],
    ['obj. max', (r) => r.obj_err_max],
    ['at', (r) => r.obj_err_max_time],
    ['rot. max \u00b0', (r) => r.rot_err_max_deg],
    ['at', (r) => r.rot_err_max_time],
    ['transl. max', (r) => r.transl_err_max],
    ['at', (r) => r.transl_err_max_time],
  ];
  const head = document.getElementById('head');
  const tbody = document.getElementById('rows');
  let sortCol = 0, sortDir = 1;
  columns.forEach(([title], c) => {
    const th = el('th', title);
    th.addEventListener('click', () => {
      sortDir = sortCol === c ? -sortDir : (c >= 2 ? -1 : 1);
      sortCol = c;
      fillTable();
    });
    head.appendChild(th);
  });
  function compare(a, b) {
    const va = columns[sortCol][1](a), vb = columns[sortCol][1](b);
    if (va === vb) return a.name < b.name ? -1 : a.name > b.name ? 1 : 0;
    if (va === null) return 1;  // fields that do not apply last, either way
    if (vb === null) return -1;
    return (va < vb ? -1 : 1) * sortDir;
  }
  function fillTable() {
    tbody.textContent = '';
    for (const r of data.table.slice().sort(compare)) {
      const tr = el('tr');
      columns.forEach(([, get], c) => {
        const v = get(r);
        tr.appendChild(el('td', typeof v === 'number' ? fmt(v, c % 2 ? 5 : 3) : v === null ? '\u2013' : v,
                          c === 0 ? 'name' : undefined));
      });
      const b = boneIndex.has(r.name) ? boneIndex.get(r.name) : -1;
      if (b >= 0 && b === selected) tr.className = 'sel';
      tr.addEventListener('click', () => {
        selected = selected === b ? -1 : b;
        fillTable();
        updateChartTitle();
        render();
      });
      tbody.appendChild(tr);
    }
    head.querySelectorAll('th').forEach((th, c) => {
      th.textContent = columns[c][0] + (c === sortCol ? (sortDir > 0 ? ' \u25b2' : ' \u25bc') : '');
    });
  }

  // ---- For tests and tools ----
  window.animView = {
    bones: bones.slice(),
    times: Array.from(times),
    // The model-space positions of every bone of both skeletons at times[i].
    poses(i) {
      if (!(i >= 0 && i < nt)) throw new RangeError('no time ' + i);
      const pick = (arr) => {
        const out = [];
        for (let b = 0; b < nb; ++b) {
          const o = (i * nb + b) * 3;
          out.push([arr[o], arr[o + 1], arr[o + 2]]);
        }
        return out;
      };
      return {time: times[i], source: pick(src), file: pick(fil)};
    },
    errors(i) { return Array.from(errs.subarray(i * nb, (i + 1) * nb)); },
    table: data.table,
    seek,
    select(name) {
      selected = boneIndex.has(name) ? boneIndex.get(name) : -1;
      fillTable();
      updateChartTitle();
      render();
    },
    setErrorColouring(on) {
      errBox.checked = !!on && data.hasSkeleton;
      errBox.dispatchEvent(new Event('change'));
    },
    get time() { return time; },
    get key() { return keyIndex(time); },
  };

  fitCanvas(view, vctx);
  fitCanvas(chart, cctx);
  frameClip();
  fillTable();
  updateChartTitle();
  render();
  window.addEventListener('resize', () => { fitCanvas(view, vctx); fitCanvas(chart, cctx); render(); });
})();
