// `lumarex serve` under bad, hostile, slow and concurrent requests, on this
// machine's loopback only: every bad request gets 400 (or 403/404) with a
// JSON error, names that only look like loopback are refused, every answer
// forbids framing, broken HTTP and dropped connections leave it serving, a
// dozen clients sending a header line now and then neither hold it nor delay
// others, of many renders from several clients at once each client's newest
// is answered (asking again when told busy), and Ctrl-C stops it within a
// second with slow clients still connected. Bounded: a few hundred requests,
// under a minute.
//   node hammer.test.mjs LUMAREX SAMPLES_DIR OUT_DIR
import fs from 'node:fs';
import net from 'node:net';

import { check, jsonError, photoCopy, request, runChecks, startServer } from './serve.mjs';

const [lumarex, samples] = process.argv.slice(2);
const { dir, photo } = photoCopy(samples, 's06_indoor_backlit_room_16bit.png');  // 676 x 449, 16-bit
const server = startServer(lumarex, photo);

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

// `n` clients each sending a request's first line, then a header line every
// `every` ms (at most 40); `closed` resolves with the milliseconds until the
// server closed the connection.
function slowClients(base, n, every) {
  const u = new URL(base);
  return Array.from({ length: n }, () => {
    const t0 = Date.now();
    const socket = net.connect(Number(u.port), u.hostname, () => socket.write('GET /api/settings HTTP/1.1\r\n'));
    let lines = 0;
    const timer = setInterval(() => {
      if (++lines > 40 || socket.destroyed) return clearInterval(timer);
      socket.write(`X-Slow-${lines}: 1\r\n`);
    }, every);
    socket.on('error', () => {});
    const closed = new Promise((resolve) => socket.on('close', () => { clearInterval(timer); resolve(Date.now() - t0); }));
    socket.on('end', () => socket.destroy());
    socket.resume();
    return { socket, closed };
  });
}

const view = 'x=0&y=0&w=676&h=449&width=338&height=225';

await runChecks('preview.hammer', server, dir, async () => {
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
  // (The Host literals, frame headers and repeats are checked in full by
  // the GoogleTest; here once each, through the command.)
  for (const host of ['127.x.example.org', '127.0.0.1.example.com']) {
    const r = await request(base, '/api/settings', { headers: { Host: host } });
    check(r.status === 403 && jsonError(r), `Host ${host} is refused`);
  }
  const h = (await request(base, '/')).headers;
  check(h['x-frame-options'] === 'DENY' && /frame-ancestors 'none'/.test(h['content-security-policy']),
        'the page forbids framing');
  const twice = await request(base, `/api/render?${view}&sharpen=1&sharpen=1`);
  check(twice.status === 400 && jsonError(twice).includes("'sharpen' given twice"), 'a parameter given twice is refused');

  // A view of the whole photo 8192 x 1 pixels large is shown within that
  // size, not at the photo's.
  const thin = await request(base, '/api/render?x=0&y=0&w=676&h=449&width=8192&height=1&format=png');
  check(thin.status === 200 && thin.body.length < 1000, `an 8192 x 1 view of the whole photo is ${thin.body.length} bytes`);

  // Broken HTTP, an enormous request line and dropped connections.
  await raw(base, 'NONSENSE\r\n\r\n');
  await raw(base, `GET /api/render?${'a'.repeat(20000)} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n`);
  for (let i = 0; i < 20; ++i) await raw(base, `GET /api/render?${view}&gen=${i} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n`, { hangUp: true });
  const alive = await request(base, '/api/settings');
  check(alive.status === 200 && JSON.parse(alive.body).photo.bits === 16, 'still serving after broken requests');

  // A dozen clients sending a header line every 400 ms: each is cut off
  // about 2 s after its first byte, and meanwhile others are answered at
  // once.
  const trickling = slowClients(base, 12, 400);
  let slowest = 0;
  for (let i = 0; i < 8; ++i) {
    const r = await request(base, '/api/settings');
    slowest = Math.max(slowest, r.ms);
    check(r.status === 200, `answered beside the slow clients in ${r.ms} ms`);
    await new Promise((resolve) => setTimeout(resolve, 250));
  }
  check(slowest < 1000, `beside a dozen slow clients the slowest answer took ${slowest} ms`);
  const cut = await Promise.all(trickling.map((c) => c.closed));
  check(cut.every((ms) => ms < 4000), `the slow clients were cut off after ${Math.min(...cut)} to ${Math.max(...cut)} ms`);

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
      let r = await request(base, `/api/render?${q}`);
      // Told busy, a client's newest view is asked again (as the page does).
      for (let retry = 0; r.status === 503 && job.gen === perClient && retry < 20; ++retry) {
        await new Promise((resolve) => setTimeout(resolve, 100));
        r = await request(base, `/api/render?${q}`);
      }
      results.set(`${job.client}/${job.gen}`, r);
    }
  }));
  const statuses = [...results.values()].map((r) => r.status);
  const count = (status) => statuses.filter((s) => s === status).length;
  check(statuses.every((s) => s === 200 || s === 409 || s === 503),
        `renders answer 200, 409 or 503 (${count(200)} pictures, ${count(409)} overtaken, ${count(503)} busy) in ${Date.now() - t0} ms`);
  check([...results.values()].every((r) => r.status !== 503 || jsonError(r).startsWith('busy')), 'busy is said in JSON');
  const pictures = [...results.values()].filter((r) => r.status === 200);
  check(pictures.every((r) => (r.body[0] === 0xff && r.body[1] === 0xd8) || r.body.slice(1, 4).toString() === 'PNG'),
        'every picture is a JPEG or a PNG');
  for (let c = 0; c < clients; ++c)
    check(results.get(`hammer${c}/${perClient}`).status === 200, `client ${c}'s newest request is answered`);

  // Ctrl-C with slow clients connected and sending: stopped within a
  // second, cleanly.
  const holding = slowClients(base, 12, 200);
  await new Promise((resolve) => setTimeout(resolve, 300));
  const end = await server.stop();
  holding.forEach((c) => c.socket.destroy());
  check(end.code === 130 && server.stderr().includes('lumarex serve: stopped'), `Ctrl-C stops it cleanly (${end.code})`);
  check(end.ms < 1000, `Ctrl-C with a dozen slow clients stops it in ${end.ms} ms`);
});
