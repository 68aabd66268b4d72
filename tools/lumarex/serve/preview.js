// The preview page of `lumarex serve`. The controls are built from the
// settings table the server sends (/api/settings); every change asks the
// server to correct the area in view at the screen's resolution
// (/api/render) and drops the answer to any request that a newer one has
// overtaken. Views are drawn on a canvas in photo coordinates, so an older
// view stays in place while a newer one is on its way. A server that needs
// a token gives it in the page's address (?token=...); every request of the
// page carries it in the header X-Lumarex-Token.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);
  const token = new URLSearchParams(window.location.search).get('token');
  // fetch() with the server's token, when it has one.
  const ask = (url, options = {}) => {
    const headers = new Headers(options.headers || {});
    if (token) headers.set('X-Lumarex-Token', token);
    return fetch(url, { ...options, headers });
  };
  const canvas = $('view');
  const ctx = canvas.getContext('2d');

  const state = {
    photo: null,
    table: [],
    values: {},            // setting -> value as the command takes it ("0.3", "auto", "on")
    zoom: 1,               // CSS pixels per photo pixel
    cx: 0, cy: 0,          // photo point at the centre of the view
    fitted: true,          // follows the window's size
    compare: 'after',      // after | before | split
    split: 0.5,            // divider position, share of the view's width
    after: null,           // { bitmap, area: [x, y, w, h] in photo pixels }
    before: null,
    beforeKey: '',
    client: Math.random().toString(36).slice(2, 12),
    gen: 0,        // the after view's request count
    beforeGen: 0,  // the before view's, its own so that asking again for it drops no after view
    scheduled: false,
    inflight: 0,
    renders: 0,            // corrected views drawn so far
    retries: 0,            // views asked again after a busy answer, since the last one drawn
    lastAfterUrl: '',
  };

  const clamp = (v, lo, hi) => Math.min(hi, Math.max(lo, v));
  const dpr = () => window.devicePixelRatio || 1;

  function setStatus(text, error) {
    $('status').textContent = text;
    $('status').classList.toggle('error', !!error);
  }

  // ---- settings -----------------------------------------------------------

  function defaultsOf(entry) { return entry.default; }

  // The query of the settings that differ from the command's defaults.
  function settingsQuery() {
    const q = new URLSearchParams();
    for (const e of state.table) {
      if (state.values[e.name] !== defaultsOf(e)) q.set(e.name, state.values[e.name]);
    }
    return q;
  }

  function isNumber(text) { return text !== '' && !isNaN(Number(text)); }

  // The slider's step: the table's, or a hundredth of the range for
  // settings that take any number.
  function stepOf(e) { return e.step > 0 ? e.step : (e.hi - e.lo) / 100; }

  function describe(e) {
    let d = e.help;
    if ('lo' in e) d += ` Takes ${e.range}${e.unit ? ` (${e.unit})` : ''}.`;
    return `${d} Default: ${e.default}.`;
  }

  function buildControl(e) {
    const box = document.createElement('div');
    box.className = 'setting';
    box.dataset.name = e.name;
    const head = document.createElement('div');
    head.className = 'head';
    const label = document.createElement('label');
    label.textContent = e.name;
    label.htmlFor = `set-${e.name}`;
    const out = document.createElement('output');
    head.append(label, out);
    const row = document.createElement('div');
    row.className = 'row';
    const help = document.createElement('p');
    help.className = 'help';
    help.textContent = describe(e);
    box.append(head, row, help);

    const hasNumbers = 'lo' in e;
    const words = e.words;
    let update;
    if (!hasNumbers && words.length === 2 && words.includes('on') && words.includes('off')) {
      const check = document.createElement('input');
      check.type = 'checkbox';
      check.id = `set-${e.name}`;
      check.addEventListener('change', () => changed(e, check.checked ? 'on' : 'off'));
      row.append(check);
      update = (v) => { check.checked = v === 'on'; out.textContent = v; };
    } else if (!hasNumbers) {
      const select = document.createElement('select');
      select.id = `set-${e.name}`;
      for (const w of words) select.add(new Option(w, w));
      select.addEventListener('change', () => changed(e, select.value));
      row.append(select);
      update = (v) => { select.value = v; out.textContent = v; };
    } else {
      // A slider, and for a setting that also takes a word ("auto") a
      // switch for the word that hands the slider back when cleared.
      const slider = document.createElement('input');
      slider.type = 'range';
      slider.id = `set-${e.name}`;
      slider.min = e.lo;
      slider.max = e.hi;
      slider.step = stepOf(e);
      const start = isNumber(e.default) ? Number(e.default) : e.lo + Math.round((e.hi - e.lo) / 3 / stepOf(e)) * stepOf(e);
      slider.value = start;
      let word = null;
      if (words.length > 0) {
        const wl = document.createElement('label');
        word = document.createElement('input');
        word.type = 'checkbox';
        wl.append(word, ` ${words[0]}`);
        row.append(wl);
        word.addEventListener('change', () => changed(e, word.checked ? words[0] : slider.value));
      }
      row.prepend(slider);
      slider.addEventListener('input', () => changed(e, slider.value));
      update = (v) => {
        const isWord = !isNumber(v);
        if (word) word.checked = isWord;
        slider.disabled = isWord;
        if (!isWord) slider.value = v;
        out.textContent = isWord ? v : `${v}${e.unit && e.unit !== 'share' && e.unit !== 'amount' ? ` ${e.unit === 'percent' ? '%' : e.unit}` : ''}`;
      };
    }
    box.update = (v) => {
      update(v);
      box.classList.toggle('changed', v !== e.default);
    };
    return box;
  }

  function changed(e, value) {
    state.values[e.name] = value;
    document.querySelector(`.setting[data-name="${e.name}"]`).update(value);
    settingsChanged();
  }

  let commandTimer = 0;
  function settingsChanged() {
    requestRender();
    clearTimeout(commandTimer);
    commandTimer = setTimeout(updateCommand, 80);
  }

  async function updateCommand() {
    const res = await ask(`/api/command?${settingsQuery()}`);
    const body = await res.json();
    if (res.ok) $('command').value = body.command;
    else setStatus(body.error, true);
  }

  // ---- view ---------------------------------------------------------------

  function viewSize() {
    const r = canvas.getBoundingClientRect();
    return { vw: Math.max(1, r.width), vh: Math.max(1, r.height) };
  }

  function fitZoom() {
    const { vw, vh } = viewSize();
    return Math.min(vw / state.photo.width, vh / state.photo.height);
  }

  function fit() {
    state.zoom = fitZoom();
    state.cx = state.photo.width / 2;
    state.cy = state.photo.height / 2;
    state.fitted = true;
  }

  // Keeps the photo in view: a side smaller than the view is centred.
  function clampCentre() {
    const { vw, vh } = viewSize();
    const W = state.photo.width, H = state.photo.height, z = state.zoom;
    const hw = vw / (2 * z), hh = vh / (2 * z);
    state.cx = W <= 2 * hw ? W / 2 : clamp(state.cx, hw, W - hw);
    state.cy = H <= 2 * hh ? H / 2 : clamp(state.cy, hh, H - hh);
  }

  function setZoom(z, mx, my) {
    const { vw, vh } = viewSize();
    const lo = Math.min(fitZoom(), 1 / dpr()) / 2, hi = 16 / dpr();
    z = clamp(z, lo, hi);
    if (mx === undefined) { mx = vw / 2; my = vh / 2; }
    const px = state.cx + (mx - vw / 2) / state.zoom, py = state.cy + (my - vh / 2) / state.zoom;
    state.zoom = z;
    state.cx = px - (mx - vw / 2) / z;
    state.cy = py - (my - vh / 2) / z;
    state.fitted = false;
    clampCentre();
    draw();
    requestRender();
  }

  // The part of the photo in view, in whole photo pixels, and the device
  // pixels it covers on the screen.
  function viewArea() {
    const { vw, vh } = viewSize();
    const W = state.photo.width, H = state.photo.height, z = state.zoom;
    const x0 = clamp(Math.floor(state.cx - vw / (2 * z)), 0, W - 1);
    const y0 = clamp(Math.floor(state.cy - vh / (2 * z)), 0, H - 1);
    const x1 = clamp(Math.ceil(state.cx + vw / (2 * z)), x0 + 1, W);
    const y1 = clamp(Math.ceil(state.cy + vh / (2 * z)), y0 + 1, H);
    const scale = z * dpr();
    return {
      x: x0, y: y0, w: x1 - x0, h: y1 - y0,
      width: clamp(Math.round((x1 - x0) * scale), 1, 8192),
      height: clamp(Math.round((y1 - y0) * scale), 1, 8192),
    };
  }

  function draw() {
    const { vw, vh } = viewSize();
    const d = dpr();
    const cw = Math.round(vw * d), ch = Math.round(vh * d);
    if (canvas.width !== cw || canvas.height !== ch) { canvas.width = cw; canvas.height = ch; }
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.clearRect(0, 0, cw, ch);
    if (!state.photo) return;
    const z = state.zoom * d;
    // On whole device pixels: at 1:1 a photo pixel then covers one screen
    // pixel exactly instead of being blended across two.
    ctx.setTransform(z, 0, 0, z, Math.round(cw / 2 - state.cx * z), Math.round(ch / 2 - state.cy * z));
    // Up close the photo's pixels show as squares, as in any editor; at
    // 1:1 they are drawn as they are.
    ctx.imageSmoothingEnabled = z < 2 && z !== 1;
    ctx.imageSmoothingQuality = 'high';
    const put = (v) => { if (v) ctx.drawImage(v.bitmap, v.area[0], v.area[1], v.area[2], v.area[3]); };
    const divider = $('divider');
    divider.hidden = state.compare !== 'split';
    $('tag-before').hidden = state.compare === 'after';
    $('tag-after').hidden = state.compare === 'before';
    if (state.compare === 'before') {
      put(state.before);  // nothing rather than the corrected picture under the "before" tag
      return;
    }
    put(state.after);
    if (state.compare === 'split' && state.before) {
      const sx = state.cx + (state.split * vw - vw / 2) / state.zoom;
      ctx.save();
      ctx.beginPath();
      ctx.rect(-1e7, -1e7, sx + 1e7, 2e7);
      ctx.clip();
      put(state.before);
      ctx.restore();
    }
    divider.style.left = `${state.split * 100}%`;
  }

  // ---- requests -----------------------------------------------------------

  function requestRender() {
    if (state.scheduled || !state.photo) return;
    state.scheduled = true;
    requestAnimationFrame(() => {
      state.scheduled = false;
      render();
    });
  }

  let afterAbort = null;
  async function render() {
    const v = viewArea();
    const view = new URLSearchParams({ x: v.x, y: v.y, w: v.w, h: v.h, width: v.width, height: v.height });
    if (state.compare !== 'after') fetchBefore(view);
    const gen = ++state.gen;
    const q = new URLSearchParams(view);
    q.set('client', state.client);
    q.set('gen', gen);
    for (const [k, val] of settingsQuery()) q.set(k, val);
    const url = `/api/render?${q}`;
    if (afterAbort) afterAbort.abort();
    const abort = afterAbort = new AbortController();
    state.inflight++;
    try {
      const res = await ask(url, { signal: abort.signal });
      if (res.status === 409 || gen !== state.gen) return;  // overtaken
      // Busy with other views (another tab, say): ask again shortly, a few
      // times, unless a newer view is asked for first.
      if (res.status === 503 && state.retries < 5) {
        state.retries++;
        setTimeout(() => { if (gen === state.gen) requestRender(); }, 300);
        return;
      }
      if (!res.ok) {
        setStatus((await res.json()).error, true);
        return;
      }
      const after = await viewOf(res, () => gen === state.gen);
      if (!after) return;
      replace('after', after);
      state.lastAfterUrl = url;
      state.renders++;
      state.retries = 0;
      draw();
      setStatus(`${v.width}\u00d7${v.height} corrected in ${res.headers.get('X-Lumarex-Render-Ms')} ms \u00b7 ` +
                `${res.headers.get('X-Lumarex-Summary')}`);
      document.getElementById('choice').textContent = res.headers.get('X-Lumarex-Choice') || '';
    } catch (err) {
      if (err.name !== 'AbortError') setStatus(`no answer from lumarex serve (${err.message})`, true);
    } finally {
      state.inflight--;
    }
  }

  // The answer's picture and the area it shows; null, with nothing kept,
  // when `wanted()` says a newer view was asked for while it was decoded.
  async function viewOf(res, wanted) {
    const bitmap = await createImageBitmap(await res.blob());
    if (!wanted()) {
      bitmap.close();
      return null;
    }
    return { bitmap, area: res.headers.get('X-Lumarex-Area').split(',').map(Number) };
  }

  // A view replaced: its decoded picture's memory goes back at once.
  function replace(which, view) {
    if (state[which]) state[which].bitmap.close();
    state[which] = view;
  }

  let beforeAbort = null;
  async function fetchBefore(view, attempt = 0) {
    const key = view.toString();
    if (key === state.beforeKey) return;
    state.beforeKey = key;
    const q = new URLSearchParams(view);
    q.set('view', 'before');
    q.set('client', `${state.client}-before`);
    q.set('gen', ++state.beforeGen);
    if (beforeAbort) beforeAbort.abort();
    const abort = beforeAbort = new AbortController();
    state.inflight++;
    try {
      const res = await ask(`/api/render?${q}`, { signal: abort.signal });
      if (key !== state.beforeKey) return;
      if (!res.ok) {
        // No picture for this view: the next render asks again, and a busy
        // server is asked again shortly, a few times, unless another view
        // is asked for first.
        state.beforeKey = null;
        if (res.status === 503 && attempt < 5) {
          setTimeout(() => { if (state.beforeKey === null) fetchBefore(view, attempt + 1); }, 300);
        } else if (res.status !== 409) {
          setStatus((await res.json()).error, true);
        }
        return;
      }
      const before = await viewOf(res, () => key === state.beforeKey);
      if (!before) return;
      replace('before', before);
      draw();
    } catch (err) {
      if (err.name !== 'AbortError') setStatus(`no answer from lumarex serve (${err.message})`, true);
    } finally {
      state.inflight--;
    }
  }

  // ---- pointer and buttons ------------------------------------------------

  let drag = null;
  canvas.addEventListener('pointerdown', (ev) => {
    const { vw } = viewSize();
    const r = canvas.getBoundingClientRect();
    const nearDivider = state.compare === 'split' && Math.abs(ev.clientX - r.left - state.split * vw) < 8;
    drag = { x: ev.clientX, y: ev.clientY, divider: nearDivider };
    canvas.setPointerCapture(ev.pointerId);
    canvas.classList.toggle('panning', !nearDivider);
  });
  canvas.addEventListener('pointermove', (ev) => {
    if (!drag) return;
    const r = canvas.getBoundingClientRect();
    if (drag.divider) {
      state.split = clamp((ev.clientX - r.left) / r.width, 0, 1);
      draw();
      return;
    }
    state.cx -= (ev.clientX - drag.x) / state.zoom;
    state.cy -= (ev.clientY - drag.y) / state.zoom;
    drag.x = ev.clientX;
    drag.y = ev.clientY;
    state.fitted = false;
    clampCentre();
    draw();
    requestRender();
  });
  const endDrag = () => { drag = null; canvas.classList.remove('panning'); };
  canvas.addEventListener('pointerup', endDrag);
  canvas.addEventListener('pointercancel', endDrag);
  canvas.addEventListener('wheel', (ev) => {
    ev.preventDefault();
    const r = canvas.getBoundingClientRect();
    setZoom(state.zoom * Math.exp(-ev.deltaY * 0.002), ev.clientX - r.left, ev.clientY - r.top);
  }, { passive: false });

  $('fit').addEventListener('click', () => { fit(); draw(); requestRender(); });
  $('actual').addEventListener('click', () => setZoom(1 / dpr()));
  $('zoom-in').addEventListener('click', () => setZoom(state.zoom * 1.5));
  $('zoom-out').addEventListener('click', () => setZoom(state.zoom / 1.5));
  for (const radio of document.querySelectorAll('input[name=compare]')) {
    radio.addEventListener('change', () => {
      state.compare = radio.value;
      draw();
      requestRender();
    });
  }
  $('defaults').addEventListener('click', () => {
    for (const e of state.table) {
      state.values[e.name] = e.default;
      document.querySelector(`.setting[data-name="${e.name}"]`).update(e.default);
    }
    settingsChanged();
  });
  $('copy').addEventListener('click', async () => {
    await updateCommand();
    try {
      await navigator.clipboard.writeText($('command').value);
      setStatus('The command is on the clipboard.');
    } catch {
      $('command').select();
      setStatus('Copy the selected command (Ctrl+C).');
    }
  });
  $('save').addEventListener('click', async () => {
    const button = $('save');
    button.disabled = true;
    setStatus('Saving the corrected photo\u2026');
    try {
      const res = await ask(`/api/save?${settingsQuery()}`, { method: 'POST', headers: { 'X-Lumarex': 'save' } });
      const body = await res.json();
      if (res.ok) {
        setStatus(`Saved to ${body.path} (${body.summary})`);
        $('command').value = body.command;
      } else {
        setStatus(`Not saved: ${body.error}`, true);
      }
    } catch (err) {
      setStatus(`Not saved: no answer from lumarex serve (${err.message})`, true);
    } finally {
      button.disabled = false;
    }
  });
  window.addEventListener('resize', () => {
    if (!state.photo) return;
    if (state.fitted) fit(); else clampCentre();
    draw();
    requestRender();
  });

  // ---- start --------------------------------------------------------------

  async function start() {
    const res = await ask('/api/settings');
    const body = await res.json();
    if (!res.ok) throw new Error(body.error);
    state.photo = body.photo;
    state.table = body.settings;
    document.title = `${body.photo.name} \u2013 Lumarex preview`;
    $('photo-name').textContent = body.photo.name;
    $('photo-size').textContent = `${body.photo.width}\u00d7${body.photo.height}, ${body.photo.bits}-bit`;
    const form = $('settings');
    for (const e of state.table) {
      const box = buildControl(e);
      form.append(box);
      state.values[e.name] = e.default;
      box.update(e.default);
    }
    fit();
    draw();
    settingsChanged();
  }

  // For tests and the curious: the state, and whether every request is answered.
  window.lumarexPreview = {
    state,
    ready: start().catch((err) => setStatus(`cannot start: ${err.message}`, true)),
    idle: () => !state.scheduled && state.inflight === 0,
    set: (name, value) => changed(state.table.find((e) => e.name === name), String(value)),
  };
})();
