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
// it prints it (the analysis comes first).
export function startServer(lumarex, photo, extra = []) {
  const child = spawn(lumarex, ['serve', photo, '--port', '0', ...extra], { stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '', err = '';
  child.stderr.on('data', (d) => { err += d; });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  const url = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`lumarex serve printed no address in 60 s: ${err}`)), 60000);
    child.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/http:\/\/[^\s/]+\//);
      if (m) { clearTimeout(timer); resolve(m[0]); }
    });
    exited.then(({ code }) => reject(new Error(`lumarex serve ended (${code}) before serving: ${err}`)));
  });
  return {
    child, url, exited,
    stderr: () => err,
    // Ctrl-C: the server must stop by itself, cleanly, within 10 s.
    async stop() {
      child.kill('SIGINT');
      const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
      const r = await exited;
      clearTimeout(timer);
      return r;
    },
  };
}
