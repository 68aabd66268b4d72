// SPDX-License-Identifier: MIT
// A headless Chromium driven through its DevTools pipe (--remote-debugging-pipe:
// JSON messages ended by a NUL byte, commands on the browser's fd 3 and
// answers and events on its fd 4), with Node.js alone: the few things the
// preview's browser test does with a page.
import { spawn } from 'node:child_process';
import fs from 'node:fs';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

class Connection {
  constructor(proc) {
    this.proc = proc;
    this.nextId = 1;
    this.pending = new Map();
    this.listeners = new Map();
    this.buffered = [];
    this.closed = null;
    proc.stdio[4].on('data', (chunk) => this.receive(chunk));
    // A browser that ends (or never starts) breaks the pipe: what is
    // waiting for an answer fails with the reason.
    proc.stdio[3].on('error', (e) => this.close(`the DevTools pipe broke (${e.code || e.message})`));
    proc.stdio[4].on('error', (e) => this.close(`the DevTools pipe broke (${e.code || e.message})`));
    proc.on('exit', (code, signal) => this.close(`the browser ended (${signal || code})`));
  }

  close(reason) {
    this.closed = this.closed || reason;
    for (const { reject } of this.pending.values()) reject(new Error(this.closed));
    this.pending.clear();
  }

  receive(chunk) {
    let start = 0;
    for (let end = chunk.indexOf(0); end !== -1; start = end + 1, end = chunk.indexOf(0, start)) {
      this.buffered.push(chunk.subarray(start, end));
      const message = JSON.parse(Buffer.concat(this.buffered).toString('utf8'));
      this.buffered = [];
      this.dispatch(message);
    }
    if (start < chunk.length) this.buffered.push(chunk.subarray(start));
  }

  dispatch(message) {
    if (message.id !== undefined) {
      const waiter = this.pending.get(message.id);
      if (!waiter) return;
      this.pending.delete(message.id);
      if (message.error) waiter.reject(new Error(`${waiter.method}: ${message.error.message}`));
      else waiter.resolve(message.result);
      return;
    }
    for (const listener of this.listeners.get(`${message.sessionId || ''}:${message.method}`) || [])
      listener(message.params);
  }

  send(method, params = {}, sessionId = undefined) {
    if (this.closed) return Promise.reject(new Error(this.closed));
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject, method });
      this.proc.stdio[3].write(JSON.stringify(message) + '\0');
    });
  }

  on(sessionId, method, listener) {
    const key = `${sessionId || ''}:${method}`;
    if (!this.listeners.has(key)) this.listeners.set(key, []);
    this.listeners.get(key).push(listener);
  }
}

// `fn` called in the page with `arg` (passed as JSON); its result comes back
// as a value, a promise awaited.
function callExpression(fn, arg) {
  return `(${fn.toString()})(${arg === undefined ? '' : JSON.stringify(arg)})`;
}

export class Page {
  constructor(connection, sessionId) {
    this.connection = connection;
    this.sessionId = sessionId;
  }

  send(method, params) { return this.connection.send(method, params, this.sessionId); }

  // Uncaught exceptions of the page's scripts.
  onError(listener) {
    this.connection.on(this.sessionId, 'Runtime.exceptionThrown', ({ exceptionDetails: d }) =>
      listener((d.exception && d.exception.description) || d.text));
  }

  async goto(url) {
    const loaded = new Promise((resolve) => this.connection.on(this.sessionId, 'Page.loadEventFired', resolve));
    const { errorText } = await this.send('Page.navigate', { url });
    if (errorText) throw new Error(`${url}: ${errorText}`);
    await loaded;
  }

  async evaluate(fn, arg) {
    return this.evaluateExpression(callExpression(fn, arg));
  }

  async evaluateExpression(expression) {
    const { result, exceptionDetails } = await this.send('Runtime.evaluate', {
      expression, awaitPromise: true, returnByValue: true, userGesture: true,
    });
    if (exceptionDetails)
      throw new Error((exceptionDetails.exception && exceptionDetails.exception.description) || exceptionDetails.text);
    return result.value;
  }

  // Polls `fn` in the page until it returns something true.
  async waitForFunction(fn, timeout) {
    const until = Date.now() + timeout;
    for (;;) {
      if (await this.evaluate(fn)) return;
      if (Date.now() > until) throw new Error(`not true within ${timeout} ms: ${fn}`);
      await sleep(50);
    }
  }

  // The element `selector` names, given to `fn` in the page; an error when
  // there is none.
  onElement(selector, fn, arg) {
    return this.evaluateExpression(`((selector, fn, arg) => {
      const e = document.querySelector(selector);
      if (!e) throw new Error('no element ' + selector);
      return fn(e, arg);
    })(${JSON.stringify(selector)}, ${fn}, ${JSON.stringify(arg)})`);
  }

  count(selector) { return this.evaluate((s) => document.querySelectorAll(s).length, selector); }
  text(selector) { return this.onElement(selector, (e) => e.textContent); }
  value(selector) { return this.onElement(selector, (e) => e.value); }
  click(selector) { return this.onElement(selector, (e) => e.click()); }
  check(selector) { return this.onElement(selector, (e) => { if (!e.checked) e.click(); }); }

  // A value typed into an input: `input` and `change` fire as they do for a
  // user's edit.
  fill(selector, value) {
    return this.onElement(selector, (e, v) => {
      e.value = v;
      e.dispatchEvent(new Event('input', { bubbles: true }));
      e.dispatchEvent(new Event('change', { bubbles: true }));
    }, value);
  }

  async screenshot(file) {
    const { data } = await this.send('Page.captureScreenshot', { format: 'png' });
    fs.writeFileSync(file, Buffer.from(data, 'base64'));
  }
}

export class Browser {
  constructor(proc, connection) {
    this.proc = proc;
    this.connection = connection;
    this.exited = new Promise((resolve) => proc.on('exit', resolve));
  }

  // A new tab of `width` x `height` CSS pixels at one device pixel each.
  async newPage(width, height) {
    const { targetId } = await this.connection.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await this.connection.send('Target.attachToTarget', { targetId, flatten: true });
    const page = new Page(this.connection, sessionId);
    await page.send('Page.enable');
    await page.send('Runtime.enable');
    await page.send('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: 1, mobile: false });
    return page;
  }

  async close() {
    if (this.proc.exitCode !== null || this.proc.signalCode !== null) return;
    await this.connection.send('Browser.close').catch(() => {});
    const timer = setTimeout(() => this.proc.kill('SIGKILL'), 5000);
    await this.exited;
    clearTimeout(timer);
  }
}

export async function launch({ executablePath, userDataDir, args = [] }) {
  const proc = spawn(executablePath, ['--remote-debugging-pipe', `--user-data-dir=${userDataDir}`, ...args,
                                      'about:blank'],
                     { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
  let stderr = '';
  proc.stderr.on('data', (d) => { if (stderr.length < 65536) stderr += d; });
  const started = new Promise((resolve, reject) => {
    proc.on('error', reject);
    proc.on('spawn', resolve);
  });
  await started;
  const connection = new Connection(proc);
  try {
    await connection.send('Browser.getVersion');
  } catch (e) {
    proc.kill('SIGKILL');
    throw new Error(`${executablePath} did not answer on its DevTools pipe: ${e.message}\n${stderr}`);
  }
  return new Browser(proc, connection);
}
