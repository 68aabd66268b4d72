// The preview page in a headless browser, served with --token: a slider
// changes the picture, the 1:1 picture and Save are what the page's command
// line writes, a screenshot goes to OUT_DIR, and without the token nothing loads.
//   node browser.test.mjs LUMAREX SAMPLES_DIR OUT_DIR
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

import { check, photoCopy, runChecks, startServer } from './serve.mjs';

const [lumarex, samples, outDir] = process.argv.slice(2);
const sample = 's08_sunset_warm.jpg';
fs.mkdirSync(outDir, { recursive: true });
const { dir, photo } = photoCopy(samples, sample);
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'lumarex-chromium-'));
const server = startServer(lumarex, photo, ['--token']);
let context = null;

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

// Runs the page's command line with the test's binary, writing `output`
// (and any extra options).
function runCommand(commandLine, output, extra = []) {
  const words = commandLine.split(' ');
  check(words[0] === 'lumarex' && words[1] === 'correct' && words[2] === photo && words[3] === '-o',
        `the command names the photo: ${commandLine}`);
  execFileSync(lumarex, ['correct', photo, '-o', output, ...words.slice(5), ...extra, '--quiet']);
}

async function idle(page) {
  await page.waitForFunction(() => window.lumarexPreview.idle() && window.lumarexPreview.state.renders > 0,
    null, { timeout: 30000 });
  // The command line follows the settings after a short pause.
  await page.waitForTimeout(300);
}

const canvasPixels = (page) => page.evaluate(() => document.getElementById('view').toDataURL('image/png'));

await runChecks('preview.browser', server, dir, async () => {
  const url = await server.url;
  const token = await server.token;
  check(/^[A-Za-z0-9_-]{32}$/.test(token || ''), `the printed address carries a token: ${url}`);
  context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.LUMAREX_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    viewport: { width: 1280, height: 760 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--force-color-profile=srgb'],
  });
  const page = context.pages()[0] || await context.newPage();
  const failures = [];
  page.on('pageerror', (e) => failures.push(e.message));
  await page.goto(url);
  await idle(page);
  check(await page.locator('.setting').count() === 23, 'a control for each of the 23 settings of lumarex correct');
  check((await page.locator('#photo-size').textContent()).startsWith('2560\u00d71707'), 'the photo\'s size is shown');
  const help = await page.locator('.setting[data-name="black-clip"] .help').textContent();
  check(help.includes('Takes auto|0..5 in steps of 0.1 (percent). Default: auto.'), `help from the table: ${help}`);
  const fitted = await canvasPixels(page);
  const choice = await page.locator('#choice').textContent();
  check(choice.includes('brighten: measured') && choice.includes('shadow floor'),
        `the choice's reasons are shown under the picture: ${choice}`);
  const firstCommand = await page.locator('#command').inputValue();
  check(firstCommand === `lumarex correct ${photo} -o ${path.join(dir, 's08_sunset_warm-corrected.jpg')}`,
        `the default command: ${firstCommand}`);

  // A slider: the picture changes and the command follows.
  await page.locator('#set-local-depth').fill('95');
  await idle(page);
  check(await canvasPixels(page) !== fitted, 'moving the local-depth slider changes the picture');
  const command = await page.locator('#command').inputValue();
  check(command.endsWith(' --local-depth 95'), `the command carries the setting: ${command}`);

  // At 1:1 the view is corrected from the photo itself: exactly the
  // command's region.
  await page.click('#actual');
  await idle(page);
  const lastUrl = await page.evaluate(() => window.lumarexPreview.state.lastAfterUrl);
  const q = new URL(lastUrl, url).searchParams;
  check(q.get('local-depth') === '95' && Number(q.get('width')) === Number(q.get('w')), `a 1:1 view: ${lastUrl}`);
  q.set('format', 'png');
  const png = await fetch(new URL(`/api/render?${q}`, url), { headers: { 'X-Lumarex-Token': token } });
  check(png.status === 200 && png.headers.get('content-type') === 'image/png', 'the lossless view is served');
  const servedFile = path.join(dir, 'served.png');
  fs.writeFileSync(servedFile, Buffer.from(await png.arrayBuffer()));
  const regionFile = path.join(dir, 'region.png');
  runCommand(command, regionFile, ['--region', ['x', 'y', 'w', 'h'].map((k) => q.get(k)).join(',')]);
  const region = await samePixels(page, b64(servedFile, 'image/png'), b64(regionFile, 'image/png'));
  check(region.a.join() === region.b.join() && region.differ === 0,
        `the 1:1 view equals lumarex correct --region (${region.a} vs ${region.b}, ${region.differ} samples differ)`);

  // Save: the whole photo beside the original, as the command writes it.
  await page.click('#save');
  await page.waitForFunction(() => /Saved to|Not saved/.test(document.getElementById('status').textContent),
    null, { timeout: 60000 });
  const status = await page.locator('#status').textContent();
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
  await page.screenshot({ path: path.join(outDir, 'preview.png') });
  check(fs.statSync(path.join(outDir, 'preview.png')).size > 10000, `screenshot in ${outDir}/preview.png`);
  check(failures.length === 0, `no script errors on the page ${failures.join('; ')}`);

  // Without the token the page loads nothing and says why.
  const bare = await context.newPage();
  const refused = await bare.goto(new URL('/', url).href);
  check(refused.status() === 403 && (await refused.text()).includes('token'), 'the page without its token is refused');
  await bare.close();

  await context.close();
  context = null;
  const end = await server.stop();
  check(end.code === 130 && server.stderr().includes('lumarex serve: stopped'), `Ctrl-C stops it cleanly (${end.code})`);
}, async () => {
  if (context) await context.close().catch(() => {});
  fs.rmSync(profile, { recursive: true, force: true });
});
