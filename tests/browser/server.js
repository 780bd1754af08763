'use strict';
// Starts the real administration server (scripts/serve.sh, i.e. lighttpd with
// the page as a CGI program) on a free loopback port with a server root of
// its own, and launches Debian's chromium for the tests, which runs axe-core
// on the pages; the server and browser tests share these helpers.

const assert = require('node:assert/strict');
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');

const repo = path.resolve(__dirname, '..', '..');
const buildDir = path.resolve(repo, process.env.BUILD_DIR || 'build');
const screenshotDir = path.join(buildDir, 'screenshots');
const serveScript = path.join(repo, 'scripts', 'serve.sh');
const PORT_IN_USE = 3;
const serveArgs = (root, port, quiet = true) =>
  ['--root', root, '--port', String(port), '--build', buildDir, ...(quiet ? ['--quiet'] : [])];
const read = (file) => fs.readFileSync(file, 'utf8');

// A fresh scratch folder; with a test t, removed after it.
function scratch(name, t) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), `plomex-${name}-`));
  t?.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

// The search settings page's settings, as the build wrote them from the page's own table.
const pageSettings = () => JSON.parse(read(path.join(buildDir, 'page-settings.json')));

// The values of the settings in a plomex.conf text, by key (the first entry of a key wins).
function settingValues(text) {
  const values = {};
  for (const [, key, value] of text.matchAll(/^([^=#;[\s][^=\n]*?)[ \t]*=[ \t]*(.*)$/gm)) values[key] ??= value;
  return values;
}

// serve.sh run to its end (a start it refuses), with env added to its environment.
const serveSync = (root, port, env = {}) => spawnSync(serveScript, serveArgs(root, port),
  { encoding: 'utf8', timeout: 20000, env: { ...process.env, ...env } });

// The form as a browser sends it: each setting's shown value, and its new one (changes by key, else the shown).
function formBody(shown, changes = {}) {
  const body = new URLSearchParams();
  for (const s of pageSettings()) {
    body.append(s.origField, shown[s.key]);
    body.append(s.newField, changes[s.key] ?? shown[s.key]);
  }
  return body.toString();
}

const freePort = () => new Promise((resolve, reject) => {
  const probe = net.createServer().once('error', reject).listen(0, '127.0.0.1', () => {
    const { port } = probe.address();
    probe.close(() => resolve(port));
  });
});

// The server answering on port for root, once it does.
function served(root, port, output, stop) {
  const url = `http://127.0.0.1:${port}/admin/vyxcfgsrch`;
  const password = read(path.join(root, 'admin', 'auth', 'password')).trim();
  const auth = `Basic ${Buffer.from(`admin:${password}`).toString('base64')}`;
  const confPath = path.join(root, 'config', 'plomex.conf');
  const changeLogPath = path.join(root, 'admin', 'logs', 'change.log');
  // A logged-in request of an address (relative to the page's) with init's headers on top.
  const request = (address = url, { headers, ...init } = {}) =>
    fetch(new URL(address, url), { ...init, headers: { Authorization: auth, ...headers } });
  return {
    root, port, url, password, auth, confPath, output, stop, request, user: 'admin',
    lockPath: path.join(root, 'config', 'plomex.lock'),
    historyDir: path.join(root, 'config', 'history', 'plomex.conf'),
    pageUrl: (page) => new URL(page, url).href,
    settings: () => settingValues(read(confPath)),
    changeLog: () => (fs.existsSync(changeLogPath) ? read(changeLogPath).trim().split('\n') : []),
    // A POST of a form from the page's own site.
    postForm: (body) => request(url, {
      method: 'POST', body, headers: { 'Content-Type': 'application/x-www-form-urlencoded', Origin: new URL(url).origin },
    }),
    // A request to /admin/vyxsettings (a body object is sent as JSON) with headers on top of JSON's
    // type; resolves to its status, ETag and body, parsed when the answer says it is JSON.
    settingsEndpoint: async (method = 'GET', body = undefined, headers = {}) => {
      const response = await request('vyxsettings', {
        method, headers: { 'Content-Type': 'application/json', ...headers },
        body: typeof body === 'object' ? JSON.stringify(body) : body,
      });
      const text = await response.text();
      const json = (response.headers.get('content-type') || '').startsWith('application/json');
      return { status: response.status, etag: response.headers.get('etag'), body: json ? JSON.parse(text) : text };
    },
    // Stops the server and removes the scratch folder startServer made for its root.
    close: async () => { await stop(); fs.rmSync(path.dirname(root), { recursive: true, force: true }); },
  };
}

// Runs serve.sh on a free port until it answers; tries another port when one was taken
// meanwhile (serve.sh's status PORT_IN_USE). A given root (a restart) is reused as it is;
// env is added to serve.sh's environment; quiet: false keeps the banner, in output().
async function startServer(root = path.join(scratch('admin'), 'root'), { env = {}, quiet = true } = {}) {
  for (let attempt = 1; ; attempt++) {
    const port = await freePort();
    const child = spawn(serveScript, serveArgs(root, port, quiet),
      { stdio: ['ignore', 'pipe', 'pipe'], env: { ...process.env, ...env } });
    let output = '';
    for (const stream of [child.stdout, child.stderr]) stream.on('data', (d) => { output += d; });
    const exited = new Promise((resolve) => child.once('exit', resolve));
    const stop = async () => { if (child.exitCode === null) child.kill('SIGTERM'); await exited; };
    for (const deadline = Date.now() + 20000; Date.now() < deadline && child.exitCode === null;) {
      if (await fetch(`http://127.0.0.1:${port}/admin/vyxcfgsrch`).then(() => true, () => false)) {
        return served(root, port, () => output, stop);
      }
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    const code = await stop().then(() => exited);
    if (code !== PORT_IN_USE || attempt === 5) throw new Error(`administration server did not start (exit ${code}):\n${output}`);
  }
}

// Starts a server before a file's tests (the hooks given are node:test's before
// and after) and closes it after them; the object returned becomes the server.
function useServer({ before, after }, options) {
  const server = {};
  before(async () => Object.assign(server, await startServer(undefined, options)));
  after(() => server.close?.());
  return server;
}

// Starts a server and a browser logged in to it before a file's tests (the
// hooks given are node:test's before and after) and stops both after them;
// the object returned holds server, browser context and page, and main() and
// follow(locator), which clicks a link or a form's button and resolves to the
// main text of the answer page.
function useSession({ before, after }) {
  const session = {};
  const profile = scratch('chromium');
  session.main = () => session.page.locator('main').innerText();
  session.follow = async (locator) => {
    const [response] = await Promise.all([session.page.waitForNavigation(), locator.click()]);
    assert.equal(response.status(), 200);
    return session.main();
  };
  before(async () => {
    session.server = await startServer();
    session.context = await require('playwright-core').chromium.launchPersistentContext(profile, {
      executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
      headless: true,
      httpCredentials: { username: session.server.user, password: session.server.password },
      viewport: { width: 1000, height: 800 },
      args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--no-first-run',
        '--disable-component-update', '--disable-sync'],
    });
    session.page = session.context.pages()[0] || (await session.context.newPage());
    fs.mkdirSync(screenshotDir, { recursive: true });
  });
  after(async () => {
    await session.context?.close();
    fs.rmSync(profile, { recursive: true, force: true });
    await session.server?.close();
  });
  return session;
}

// The page as it stands fits a phone and a desktop, light and dark, with no horizontal scroll
// and nothing axe-core objects to; its screenshots at both widths are kept.
async function fitsEveryWidth(page, name) {
  for (const width of [390, 1280]) {
    await page.setViewportSize({ width, height: 800 });
    for (const colorScheme of ['light', 'dark']) {
      await page.emulateMedia({ colorScheme });
      const where = `${name} at ${width} px, ${colorScheme}`;
      const { scroll, inner } = await page.evaluate(
        () => ({ scroll: document.documentElement.scrollWidth, inner: window.innerWidth }));
      assert.ok(scroll <= inner, `${where}: ${scroll} px wide`);
      // Evaluated through the debugging protocol, so the page's script policy does not apply.
      await page.evaluate(read(require.resolve('axe-core/axe.min.js')));
      const { violations } = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
      assert.deepEqual(violations.map((v) => `${v.id} (${v.impact}): ${v.help}\n  ${v.nodes
        .slice(0, 3).map((n) => n.target.join(' ')).join('\n  ')}`), [], `axe on ${where}`);
    }
    await page.emulateMedia({ colorScheme: 'light' });
    await page.screenshot({ path: path.join(screenshotDir, `${name}-${width}.png`), fullPage: true });
  }
  await page.setViewportSize({ width: 1000, height: 800 });
}

module.exports = {
  useSession, useServer, startServer, serveSync, scratch, formBody, pageSettings, settingValues, fitsEveryWidth,
  buildDir, PORT_IN_USE,
};
