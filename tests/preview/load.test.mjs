// `lumarex serve` under load: 1000 mixed requests from 20 clients at once,
// each answered as its kind allows, within limits of peak memory (VmHWM) and
// slowest answer. The figures go to OUT_DIR/load.json.
//   node load.test.mjs LUMAREX SAMPLES_DIR OUT_DIR
import fs from 'node:fs';
import path from 'node:path';

import { check, jsonError, memoryOf, photoCopy, request, runChecks, startServer } from './serve.mjs';

const [lumarex, samples, outDir] = process.argv.slice(2);
const { dir, photo } = photoCopy(samples, 's08_sunset_warm.jpg');  // 2560 x 1707, 8-bit
const server = startServer(lumarex, photo);

const kRequests = 1000, kClients = 20;
// Measured on the shared 2-core machine (docs/preview.md): peak 270 to 335
// MiB, slowest answer 3.7 s (0.13 s for no view); the limits leave room.
const kPeakMiB = 600, kSlowestMs = 10000, kSlowestOtherMs = 2000, kRunMs = 60000;

// Each kind: a request and the statuses it may get. A view may also be told
// the server is busy (503).
const W = 2560, H = 1707;
const kinds = [
  ['fitted view', (i) => `/api/render?x=0&y=0&w=${W}&h=${H}&width=${800 + (i % 7) * 100}&height=${533 + (i % 7) * 67}` +
                         `&sharpen=${(i % 5) * 0.5}&client=load${i % kClients}&gen=${i}`, [200, 409, 503]],
  ['1:1 view png', (i) => `/api/render?x=${(i * 37) % 1900}&y=${(i * 23) % 1300}&w=600&h=400&width=600&height=400` +
                          `&format=png&local-depth=${i % 100}`, [200, 503]],
  ['before view', (i) => `/api/render?x=0&y=0&w=${W}&h=${H}&width=960&height=640&view=before`, [200, 503]],
  ['8192 x 1 view', () => `/api/render?x=0&y=0&w=${W}&h=${H}&width=8192&height=1&format=png`, [200, 503]],
  ['whole photo at 1:1', () => `/api/render?x=0&y=0&w=${W}&h=${H}&width=5120&height=3414&format=png`, [200, 503]],
  ['settings', () => '/api/settings', [200]],
  ['command', (i) => `/api/command?sharpen=${i % 4}&look=contrast`, [200]],
  ['bad setting', () => '/api/command?black-clip=7', [400]],
  ['repeated parameter', () => `/api/render?x=0&y=0&w=10&h=10&width=10&height=10&x=0`, [400]],
  ['area outside', () => '/api/render?x=2500&y=0&w=100&h=10&width=10&height=10', [400]],
  ['foreign host', () => '/api/settings', [403], { Host: '127.0.0.1.example.com' }],
  ['other site', () => `/api/render?x=0&y=0&w=${W}&h=${H}&width=8192&height=5462`, [403], { 'Sec-Fetch-Site': 'cross-site' }],
  ['save without header', () => '/api/save', [403], { 'Content-Length': '0' }, 'POST'],
  ['no such page', () => '/api/nothing', [404]],
];

await runChecks('preview.load', server, dir, async () => {
  const base = await server.url;
  const pid = server.child.pid;
  const idle = memoryOf(pid);
  const t0 = Date.now();
  const deadline = t0 + kRunMs;
  const byKind = new Map(kinds.map(([name]) => [name, { count: 0, slowest: 0, statuses: {} }]));
  const wrong = [];
  let next = 0, slowest = { ms: 0, kind: '' }, slowestOther = { ms: 0, kind: '' }, largest = { bytes: 0, kind: '' };
  await Promise.all(Array.from({ length: kClients }, async () => {
    while (next < kRequests && Date.now() < deadline) {
      const i = next++;
      const [name, url, allowed, headers = {}, method = 'GET'] = kinds[i % kinds.length];
      const r = await request(base, url(i), { method, headers });
      const k = byKind.get(name);
      k.count++;
      k.slowest = Math.max(k.slowest, r.ms);
      k.statuses[r.status] = (k.statuses[r.status] || 0) + 1;
      if (r.ms > slowest.ms) slowest = { ms: r.ms, kind: name };
      if (!url(i).startsWith('/api/render') && r.ms > slowestOther.ms) slowestOther = { ms: r.ms, kind: name };
      if (r.body.length > largest.bytes) largest = { bytes: r.body.length, kind: name };
      if (!allowed.includes(r.status) || (r.status !== 200 && !jsonError(r)) ||
          (name === '8192 x 1 view' && r.status === 200 && r.body.length > 2000))
        wrong.push(`${name} ${url(i)} -> ${r.status} ${r.body.length} bytes`);
    }
  }));
  const runMs = Date.now() - t0;
  const memory = memoryOf(pid);
  const done = [...byKind.values()].reduce((n, k) => n + k.count, 0);
  const figures = {
    requests: done, clients: kClients, runMs, slowest, slowestOther, largest,
    idleMiB: Math.round(idle.now), peakMiB: Math.round(memory.peak), afterMiB: Math.round(memory.now),
    byKind: Object.fromEntries(byKind),
  };
  fs.mkdirSync(outDir, { recursive: true });
  fs.writeFileSync(path.join(outDir, 'load.json'), `${JSON.stringify(figures, null, 2)}\n`);
  console.log(JSON.stringify(figures, null, 2));

  check(done === kRequests, `${done} of ${kRequests} requests answered in ${runMs} ms (limit ${kRunMs})`);
  check(wrong.length === 0, `every answer is one its kind allows ${wrong.slice(0, 5).join('; ')}`);
  const pictures = [...byKind.values()].reduce((n, k) => n + (k.statuses[200] || 0), 0) -
                   ['settings', 'command'].reduce((n, name) => n + (byKind.get(name).statuses[200] || 0), 0);
  check(pictures >= 5, `${pictures} views answered with a picture under load, the rest told busy or overtaken`);
  check(memory.peak < kPeakMiB, `peak memory ${memory.peak.toFixed(0)} MiB (limit ${kPeakMiB})`);
  check(slowest.ms < kSlowestMs, `slowest answer ${slowest.ms} ms, a ${slowest.kind} (limit ${kSlowestMs})`);
  // Views wait for a turn; nothing else waits for views.
  check(slowestOther.ms < kSlowestOtherMs,
        `slowest answer that is no view ${slowestOther.ms} ms, a ${slowestOther.kind} (limit ${kSlowestOtherMs})`);
  const after = await request(base, '/api/settings');
  check(after.status === 200, 'still serving after the load');

  const end = await server.stop();
  check(end.code === 130 && end.ms < 1000, `Ctrl-C stops it cleanly in ${end.ms} ms (${end.code})`);
});
