'use strict';
// Starts the real administration server (scripts/serve.sh, i.e. lighttpd with
// the page as a CGI program) on a free loopback port with a server root of
// its own, and launches Debian's chromium for the tests.

const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');

const repo = path.resolve(__dirname, '..', '..');
const buildDir = path.resolve(repo, process.env.BUILD_DIR || 'build');
const screenshotDir = path.join(buildDir, 'screenshots');
const PORT_IN_USE = 3;
const serveArgs = (root, port, { quiet = true } = {}) =>
  ['--root', root, '--port', String(port), '--build', buildDir, ...(quiet ? ['--quiet'] : [])];

// The search settings page's settings, as the build wrote them from the page's own table.
const pageSettings = () => JSON.parse(fs.readFileSync(path.join(buildDir, 'page-settings.json'), 'utf8'));

// The values of the settings in a plomex.conf text, by key (the first entry of a key wins).
function settingValues(text) {
  const values = {};
  for (const [, key, value] of text.matchAll(/^([^=#;[\s][^=\n]*?)[ \t]*=[ \t]*(.*)$/gm)) values[key] ??= value;
  return values;
}

const removeRoot = (root) => fs.rmSync(path.dirname(root), { recursive: true, force: true });

// serve.sh run to its end (a start it refuses), with env added to its environment.
const serveSync = (root, port, env = {}) => spawnSync(path.join(repo, 'scripts', 'serve.sh'),
  serveArgs(root, port), { encoding: 'utf8', timeout: 20000, env: { ...process.env, ...env } });

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

// Runs serve.sh on a free port until it answers; tries another port when one was taken
// meanwhile (serve.sh's status PORT_IN_USE). A given root (a restart) is reused as it is;
// env is added to serve.sh's environment; quiet: false keeps the banner, in output().
async function startServer(root = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'plomex-admin-')), 'root'),
  { env = {}, quiet = true } = {}) {
  for (let attempt = 1; ; attempt++) {
    const port = await freePort();
    const child = spawn(path.join(repo, 'scripts', 'serve.sh'), serveArgs(root, port, { quiet }),
      { stdio: ['ignore', 'pipe', 'pipe'], env: { ...process.env, ...env } });
    let output = '';
    child.stdout.on('data', (d) => { output += d; });
    child.stderr.on('data', (d) => { output += d; });
    const exited = new Promise((resolve) => child.once('exit', resolve));
    for (const deadline = Date.now() + 20000; Date.now() < deadline && child.exitCode === null;) {
      if (await fetch(`http://127.0.0.1:${port}/admin/vyxcfgsrch`).then(() => true, () => false)) {
        const password = fs.readFileSync(path.join(root, 'admin', 'auth', 'password'), 'utf8').trim();
        const url = `http://127.0.0.1:${port}/admin/vyxcfgsrch`;
        const auth = `Basic ${Buffer.from(`admin:${password}`).toString('base64')}`;
        const stop = async () => { if (child.exitCode === null) child.kill('SIGTERM'); await exited; };
        return {
          root,
          port,
          url,
          pageUrl: (page) => `http://127.0.0.1:${port}/admin/${page}`,
          user: 'admin',
          password,
          auth,
          confPath: path.join(root, 'config', 'plomex.conf'),
          changeLogPath: path.join(root, 'admin', 'logs', 'change.log'),
          output: () => output,
          // A logged-in POST of a form from the page's own site.
          postForm: (body) => fetch(url, {
            method: 'POST',
            headers: { Authorization: auth, 'Content-Type': 'application/x-www-form-urlencoded', Origin: new URL(url).origin },
            body,
          }),
          stop,
          // Stops the server and removes the scratch folder startServer made for its root.
          close: async () => { await stop(); removeRoot(root); },
        };
      }
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    if (child.exitCode === null) child.kill('SIGTERM');
    const code = await exited;
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
// the object returned holds server, browser context and page.
function useSession({ before, after }) {
  const session = {};
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'plomex-chromium-'));
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

module.exports = {
  useSession, useServer, startServer, serveSync, formBody, pageSettings, settingValues, screenshotDir, buildDir, PORT_IN_USE,
};
