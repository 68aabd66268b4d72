// SPDX-License-Identifier: MIT
// The preview page in a headless browser, served with --token: a slider
// changes the picture, Save writes what the page's command line writes, a
// screenshot goes to OUT_DIR, and Ctrl-C stops the server cleanly. (What a
// request without the token gets: PreviewServerTest, in process.)
//   node browser.test.mjs LUMAREX SAMPLES_DIR OUT_DIR
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { launch } from './devtools.mjs';

const [lumarex, samples, outDir] = process.argv.slice(2);
const sample = 's08_sunset_warm.jpg';
fs.mkdirSync(outDir, { recursive: true });
// A copy of the sample in a folder of the test's own: Save writes beside it.
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'lumarex-preview-'));
const photo = path.join(dir, sample);
fs.copyFileSync(path.join(samples, sample), photo);
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'lumarex-chromium-'));
let browser = null;

function check(ok, what) {
  if (!ok) throw new Error(`FAILED: ${what}`);
  console.log(`ok - ${what}`);
}

// `lumarex serve PHOTO --port 0 --token`; `url` resolves with the address it
// prints once the analysis is done, the token in it.
const child = spawn(lumarex, ['serve', photo, '--port', '0', '--token'], { stdio: ['ignore', 'pipe', 'pipe'] });
let out = '', err = '';
child.stderr.on('data', (d) => { err += d; });
const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
const url = new Promise((resolve, reject) => {
  const timer = setTimeout(() => reject(new Error(`lumarex serve printed no address in 60 s: ${err}`)), 60000);
  child.stdout.on('data', (d) => {
    out += d;
    const m = out.match(/http:\/\/[^\s/]+\/(\?token=[A-Za-z0-9_-]+)?/);
    if (m) { clearTimeout(timer); resolve(m[0]); }
  });
  exited.then((code) => reject(new Error(`lumarex serve ended (${code}) before serving: ${err}`)));
});

// The page's decoder reads both files: the same pixels, sample for sample
// (no colour management, no premultiplication).
async function samePixels(page, a, b) {
  return page.evaluate(async ([a64, b64]) => {
    const decode = async (b64s, type) => {
      const bytes = Uint8Array.from(atob(b64s), (c) => c.charCodeAt(0));
      const bitmap = await createImageBitmap(new Blob([bytes], { type }),
        { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
      const c = new OffscreenCanvas(bitmap.width, bitmap.height);
      const g = c.getContext('2d');
      g.drawImage(bitmap, 0, 0);
      return { w: bitmap.width, h: bitmap.height, data: g.getImageData(0, 0, bitmap.width, bitmap.height).data };
    };
    const x = await decode(a64[0], a64[1]), y = await decode(b64[0], b64[1]);
    let differ = 0;
    if (x.w === y.w && x.h === y.h) for (let i = 0; i < x.data.length; ++i) differ += x.data[i] !== y.data[i];
    return { a: [x.w, x.h], b: [y.w, y.h], differ };
  }, [a, b]);
}

const b64 = (file, type) => [fs.readFileSync(file).toString('base64'), type];

// Runs the page's command line with the test's binary, writing `output`.
function runCommand(commandLine, output) {
  const words = commandLine.split(' ');
  check(words[0] === 'lumarex' && words[1] === 'correct' && words[2] === photo && words[3] === '-o',
        `the command names the photo: ${commandLine}`);
  execFileSync(lumarex, ['correct', photo, '-o', output, ...words.slice(5), '--quiet']);
}

async function idle(page) {
  await page.waitForFunction(() => window.lumarexPreview.idle() && window.lumarexPreview.state.renders > 0, 30000);
  // The command line follows the settings after a short pause.
  await new Promise((resolve) => setTimeout(resolve, 300));
}

const canvasPixels = (page) => page.evaluate(() => document.getElementById('view').toDataURL('image/png'));

try {
  const base = await url;
  const token = new URL(base).searchParams.get('token');
  check(/^[A-Za-z0-9_-]{32}$/.test(token || ''), `the printed address carries a token: ${base}`);
  browser = await launch({
    executablePath: process.env.LUMAREX_CHROMIUM || '/usr/bin/chromium',
    userDataDir: profile,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--force-color-profile=srgb'],
  });
  const page = await browser.newPage(1280, 760);
  const failures = [];
  page.onError((message) => failures.push(message));
  await page.goto(base);
  await idle(page);
  check(await page.count('.setting') === 23, 'a control for each of the 23 settings of lumarex correct');
  check((await page.text('#photo-size')).startsWith('2560\u00d71707'), 'the photo\'s size is shown');
  const fitted = await canvasPixels(page);
  const choice = await page.text('#choice');
  check(choice.includes('brighten: measured') && choice.includes('shadow floor'),
        `the choice's reasons are shown under the picture: ${choice}`);
  const firstCommand = await page.value('#command');
  check(firstCommand === `lumarex correct ${photo} -o ${path.join(dir, 's08_sunset_warm-corrected.jpg')}`,
        `the default command: ${firstCommand}`);

  // A slider: the picture changes and the command follows.
  await page.fill('#set-local-depth', '95');
  await idle(page);
  check(await canvasPixels(page) !== fitted, 'moving the local-depth slider changes the picture');
  const command = await page.value('#command');
  check(command.endsWith(' --local-depth 95'), `the command carries the setting: ${command}`);

  // At 1:1 the view is asked for with the settings (the in-process tests
  // compare such a view with the command's region).
  await page.click('#actual');
  await idle(page);
  const lastUrl = await page.evaluate(() => window.lumarexPreview.state.lastAfterUrl);
  const q = new URL(lastUrl, base).searchParams;
  check(q.get('local-depth') === '95' && Number(q.get('width')) === Number(q.get('w')), `a 1:1 view: ${lastUrl}`);
  // ... and drawn on whole screen pixels: a patch at the canvas's centre is
  // the view's pixels as they are, not blends of neighbours.
  const aligned = await page.evaluate(() => {
    const s = window.lumarexPreview.state;
    const canvas = document.getElementById('view');
    const n = 48, x0 = Math.floor(canvas.width / 2) - n / 2, y0 = Math.floor(canvas.height / 2) - n / 2;
    const shown = canvas.getContext('2d').getImageData(x0, y0, n, n).data;
    const b = s.after.bitmap;
    const own = new OffscreenCanvas(b.width, b.height).getContext('2d');
    own.drawImage(b, 0, 0);
    const px = own.getImageData(0, 0, b.width, b.height).data;
    // Where the patch should sit in the view, give or take a few pixels.
    const bx = Math.round(x0 - canvas.width / 2 + s.cx - s.after.area[0]);
    const by = Math.round(y0 - canvas.height / 2 + s.cy - s.after.area[1]);
    for (let dy = -3; dy <= 3; ++dy)
      for (let dx = -3; dx <= 3; ++dx) {
        let same = true;
        for (let y = 0; y < n && same; ++y)
          for (let x = 0; x < n && same; ++x)
            for (let c = 0; c < 3 && same; ++c)
              same = shown[(y * n + x) * 4 + c] === px[((by + dy + y) * b.width + bx + dx + x) * 4 + c];
        if (same) return true;
      }
    return false;
  });
  check(aligned, 'at 1:1 each pixel of the view is one screen pixel, unblended');

  // Save: the whole photo beside the original, as the command writes it.
  await page.click('#save');
  await page.waitForFunction(() => /Saved to|Not saved/.test(document.getElementById('status').textContent), 60000);
  const status = await page.text('#status');
  const saved = path.join(dir, 's08_sunset_warm-corrected.jpg');
  check(status.startsWith(`Saved to ${saved}`), `Save reports where: ${status}`);
  const wholeFile = path.join(dir, 'whole.jpg');
  runCommand(command, wholeFile);
  const whole = await samePixels(page, b64(saved, 'image/jpeg'), b64(wholeFile, 'image/jpeg'));
  check(whole.differ === 0 && whole.a.join() === '2560,1707', 'the saved photo is what lumarex correct writes');
  check(fs.readFileSync(photo).equals(fs.readFileSync(path.join(samples, sample))), 'the original is untouched');

  // The screenshot: fitted, before and after split at the middle.
  await page.click('#fit');
  await page.check('input[name=compare][value=split]');
  await idle(page);
  await page.screenshot(path.join(outDir, 'preview.png'));
  check(fs.statSync(path.join(outDir, 'preview.png')).size > 10000, `screenshot in ${outDir}/preview.png`);
  check(failures.length === 0, `no script errors on the page ${failures.join('; ')}`);

  await browser.close();
  browser = null;
  // Ctrl-C: the server stops by itself, cleanly.
  child.kill('SIGINT');
  const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
  const code = await exited;
  clearTimeout(timer);
  check(code === 130 && err.includes('lumarex serve: stopped'), `Ctrl-C stops it cleanly (${code})`);
  console.log('preview.browser: 1 passed, 0 failed');
} catch (e) {
  console.error(e.stack || String(e));
  console.error(err);
  process.exitCode = 1;
} finally {
  if (browser) await browser.close().catch(() => {});
  if (child.exitCode === null) child.kill('SIGKILL');
  fs.rmSync(profile, { recursive: true, force: true });
  fs.rmSync(dir, { recursive: true, force: true });
}
