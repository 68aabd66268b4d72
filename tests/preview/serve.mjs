// Starting and stopping `lumarex serve` for the preview tests, and a few
// checks that fail the test with a message.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export function check(ok, what) {
  if (!ok) throw new Error(`FAILED: ${what}`);
  console.log(`ok - ${what}`);
}

// A folder of the test's own with a copy of the sample `name` in it (Save
// writes beside the photo, never into samples/).
export function photoCopy(samples, name) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'lumarex-preview-'));
  const photo = path.join(dir, name);
  fs.copyFileSync(path.join(samples, name), photo);
  return { dir, photo };
}

// Starts `lumarex serve PHOTO --port 0` and resolves with its address once
// it prints it (the analysis comes first); with a token the address carries
// it (?token=...), and `token` resolves with it.
export function startServer(lumarex, photo, extra = []) {
  const child = spawn(lumarex, ['serve', photo, '--port', '0', ...extra], { stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '', err = '';
  child.stderr.on('data', (d) => { err += d; });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  const url = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`lumarex serve printed no address in 60 s: ${err}`)), 60000);
    child.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/http:\/\/[^\s/]+\/(\?token=[A-Za-z0-9_-]+)?/);
      if (m) { clearTimeout(timer); resolve(m[0]); }
    });
    exited.then(({ code }) => reject(new Error(`lumarex serve ended (${code}) before serving: ${err}`)));
  });
  return {
    child, url, exited,
    token: url.then((u) => new URL(u).searchParams.get('token')),
    stderr: () => err,
    // Ctrl-C: the server must stop by itself, cleanly, within 10 s; `ms`
    // says how long it took.
    async stop() {
      const t0 = Date.now();
      child.kill('SIGINT');
      const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
      const r = await exited;
      clearTimeout(timer);
      return { ...r, ms: Date.now() - t0 };
    },
  };
}

// Runs a test's checks: "NAME: 1 passed, 0 failed" when they all hold; the
// failure and the server's messages when one does not. Either way the
// server is ended and the test's folder removed, after `cleanUp`.
export async function runChecks(name, server, dir, checks, cleanUp = async () => {}) {
  try {
    await checks();
    console.log(`${name}: 1 passed, 0 failed`);
  } catch (e) {
    console.error(e.stack || String(e));
    console.error(server.stderr());
    process.exitCode = 1;
  } finally {
    await cleanUp();
    if (server.child.exitCode === null) server.child.kill('SIGKILL');
    fs.rmSync(dir, { recursive: true, force: true });
  }
}
