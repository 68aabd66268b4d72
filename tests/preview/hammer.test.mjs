// `lumarex serve` under bad and concurrent requests, on this machine's
// loopback only: every bad request gets 400 (or 403/404) with a JSON error,
// broken HTTP and dropped connections leave it serving, of many renders from
// several clients at once each client's newest is answered, and Ctrl-C
// still stops it cleanly. Bounded: a few hundred requests, under a minute.
//   node hammer.test.mjs LUMAREX SAMPLES_DIR OUT_DIR
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';

import { check, photoCopy, startServer } from './serve.mjs';

const [lumarex, samples] = process.argv.slice(2);
const { dir, photo } = photoCopy(samples, 's06_indoor_backlit_room_16bit.png');  // 676 x 449, 16-bit
const server = startServer(lumarex, photo);

// A request with full control of the headers (fetch may not set Host).
function request(base, pathAndQuery, { method = 'GET', headers = {} } = {}) {
  const u = new URL(pathAndQuery, base);
  return new Promise((resolve, reject) => {
    const req = http.request({ host: u.hostname, port: u.port, path: u.pathname + u.search, method, headers,
                               agent: false }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks) }));
    });
    req.on('error', reject);
    req.setTimeout(30000, () => req.destroy(new Error(`no answer to ${pathAndQuery}`)));
    req.end();
  });
}

function jsonError(r) {
  try {
    const body = JSON.parse(r.body.toString());
    return r.headers['content-type'] === 'application/json' && typeof body.error === 'string' ? body.error : null;
  } catch {
    return null;
  }
}

// Raw bytes down a socket; resolves when the server closes it or after 2 s.
function raw(base, bytes, { hangUp = false } = {}) {
  const u = new URL(base);
  return new Promise((resolve) => {
    const s = net.connect(Number(u.port), u.hostname, () => {
      s.write(bytes);
      if (hangUp) s.destroy();
    });
    let got = '';
    s.on('data', (d) => { got += d; });
    s.on('error', () => resolve(got));
    s.on('close', () => resolve(got));
    s.setTimeout(2000, () => { s.destroy(); resolve(got); });
  });
}

const view = 'x=0&y=0&w=676&h=449&width=338&height=225';

try {
  const base = await server.url;

  // Bad requests of each kind (their exact texts are checked by the
  // GoogleTest of the request parser): the status and the error's words.
  const bad = [
    [`/api/render?${view}&bogus=1`, 400, "unknown setting 'bogus'"],
    [`/api/render?${view}&black-clip=7`, 400, 'black-clip must be between 0 and 5'],
    [`/api/render?${view}&sharpen=nan`, 400, 'sharpen'],
    ['/api/render?x=600&y=0&w=100&h=10&width=10&height=10', 400, 'leaves the 676x449 photo'],
    ['/api/render?x=0&y=0&w=10&h=10&width=100000&height=10', 400, 'width must be a whole number between 1 and 8192'],
    ['/api/render?x=0&y=0&w=10&h=10&width=8000&height=8000', 400, 'larger than 40 megapixels'],
    [`/api/render?${view}&gen=99999999999999999999`, 400, 'gen must be'],
    ['/api/command?target=62', 400, 'target must be a multiple of 5'],
    ['/api/nothing', 404, 'no such page'],
  ];
  for (const [p, status, words] of bad) {
    const r = await request(base, p);
    const e = jsonError(r);
    check(r.status === status && e !== null && e.includes(words), `${p} -> ${r.status} ${e}`);
  }
  const noHeader = await request(base, '/api/save', { method: 'POST', headers: { 'Content-Length': '0' } });
  check(noHeader.status === 403 && jsonError(noHeader), 'a save without its header is refused');
  const badSave = await request(base, '/api/save?look=sepia', {
    method: 'POST', headers: { 'X-Lumarex': 'save', 'Content-Length': '0' } });
  check(badSave.status === 400 && jsonError(badSave).includes('look expects'), 'a save with a bad setting is refused');
  check(fs.readdirSync(dir).length === 1, 'refused saves wrote nothing');
  const foreign = await request(base, '/api/settings', { headers: { Host: 'example.com' } });
  check(foreign.status === 403 && jsonError(foreign), 'a request for another host name is refused');

  // Broken HTTP, an enormous request line and dropped connections.
  await raw(base, 'NONSENSE\r\n\r\n');
  await raw(base, `GET /api/render?${'a'.repeat(20000)} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n`);
  for (let i = 0; i < 20; ++i) await raw(base, `GET /api/render?${view}&gen=${i} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n`, { hangUp: true });
  const alive = await request(base, '/api/settings');
  check(alive.status === 200 && JSON.parse(alive.body).photo.bits === 16, 'still serving after broken requests');

  // Concurrent renders: 6 clients x 30 requests with rising numbers, 12 in
  // flight at a time, in random views and settings. Each answer is a picture
  // or "overtaken"; each client's last request is always answered.
  const clients = 6, perClient = 30, inFlight = 12;
  const jobs = [];
  for (let g = 1; g <= perClient; ++g)
    for (let c = 0; c < clients; ++c) jobs.push({ client: `hammer${c}`, gen: g });
  const results = new Map();
  let next = 0;
  const t0 = Date.now();
  await Promise.all(Array.from({ length: inFlight }, async () => {
    while (next < jobs.length) {
      const job = jobs[next++];
      const x = (job.gen * 37) % 600, y = (job.gen * 23) % 400;
      const q = `x=${x}&y=${y}&w=${676 - x}&h=${449 - y}&width=${1 + ((job.gen * 53) % 700)}&height=300` +
                `&client=${job.client}&gen=${job.gen}&sharpen=${(job.gen % 5) * 0.5}` +
                (job.gen % 3 ? '&format=png' : '') + (job.gen % 7 ? '' : '&view=before');
      const r = await request(base, `/api/render?${q}`);
      results.set(`${job.client}/${job.gen}`, r);
    }
  }));
  const statuses = [...results.values()].map((r) => r.status);
  check(statuses.every((s) => s === 200 || s === 409), `renders answer 200 or 409 (${statuses.filter((s) => s === 200).length} pictures, ${statuses.filter((s) => s === 409).length} overtaken) in ${Date.now() - t0} ms`);
  const pictures = [...results.values()].filter((r) => r.status === 200);
  check(pictures.every((r) => (r.body[0] === 0xff && r.body[1] === 0xd8) || r.body.slice(1, 4).toString() === 'PNG'),
        'every picture is a JPEG or a PNG');
  for (let c = 0; c < clients; ++c)
    check(results.get(`hammer${c}/${perClient}`).status === 200, `client ${c}'s newest request is answered`);

  const end = await server.stop();
  check(end.code === 130 && server.stderr().includes('lumarex serve: stopped'), `Ctrl-C stops it cleanly (${end.code})`);
  console.log('preview.hammer: 1 passed, 0 failed');
} catch (e) {
  console.error(e.stack || String(e));
  console.error(server.stderr());
  process.exitCode = 1;
} finally {
  if (server.child.exitCode === null) server.child.kill('SIGKILL');
  fs.rmSync(dir, { recursive: true, force: true });
}
