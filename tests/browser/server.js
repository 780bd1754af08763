'use strict';
// Starts the real administration server (scripts/serve.sh, i.e. lighttpd with
// the page as a CGI program) on a free loopback port with a server root of
// its own, and launches Debian's chromium for the tests.

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');

const repo = path.resolve(__dirname, '..', '..');
const buildDir = path.resolve(repo, process.env.BUILD_DIR || 'build');
const screenshotDir = path.join(buildDir, 'screenshots');
const PORT_IN_USE = 3;

// The search settings page's settings, as the build wrote them from the page's own table.
function pageSettings() {
  return JSON.parse(fs.readFileSync(path.join(buildDir, 'page-settings.json'), 'utf8'));
}

// The values of the settings in a plomex.conf text, by key (the first entry of a key wins).
function settingValues(text) {
  const values = {};
  for (const line of text.split('\n')) {
    const m = /^([^=#;[\s][^=]*?)\s*=\s*(.*)$/.exec(line);
    if (m && !(m[1] in values)) values[m[1]] = m[2];
  }
  return values;
}

function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.once('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

// Starts serve.sh once; resolves when the server answers, rejects with
// err.code === PORT_IN_USE when another process took the port first.
function startOnce(root, port) {
  const child = spawn(
    path.join(repo, 'scripts', 'serve.sh'),
    ['--root', root, '--port', String(port), '--build', buildDir, '--quiet'],
    { stdio: ['ignore', 'pipe', 'pipe'] },
  );
  let output = '';
  child.stdout.on('data', (d) => { output += d; });
  child.stderr.on('data', (d) => { output += d; });
  const exited = new Promise((resolve) => child.once('exit', (code) => resolve(code)));

  const ready = (async () => {
    const deadline = Date.now() + 20000;
    while (Date.now() < deadline) {
      if (child.exitCode !== null) break;
      try {
        await fetch(`http://127.0.0.1:${port}/admin/vyxcfgsrch`);
        return;
      } catch {
        await sleep(100);
      }
    }
    if (child.exitCode === null) child.kill('SIGTERM');
    const code = await exited;
    const err = new Error(`administration server did not start (exit ${code}):\n${output}`);
    err.code = code;
    throw err;
  })();

  return ready.then(() => ({ child, exited, output: () => output }));
}

// Starts a server on a free port.  Given an existing root (a restart), the
// root is reused as it is.
async function startServer(root) {
  if (!root) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'plomex-admin-'));
    root = path.join(dir, 'root');
  }
  let lastError;
  for (let attempt = 0; attempt < 5; attempt++) {
    const port = await freePort();
    try {
      const proc = await startOnce(root, port);
      const auth = path.join(root, 'admin', 'auth', 'password');
      const server = {
        root,
        port,
        url: `http://127.0.0.1:${port}/admin/vyxcfgsrch`,
        pageUrl: (page) => `http://127.0.0.1:${port}/admin/${page}`,
        user: 'admin',
        password: fs.readFileSync(auth, 'utf8').trim(),
        output: proc.output,
        confPath: path.join(root, 'config', 'plomex.conf'),
        changeLogPath: path.join(root, 'admin', 'logs', 'change.log'),
        async stop() {
          if (proc.child.exitCode === null) proc.child.kill('SIGTERM');
          await proc.exited;
        },
      };
      return server;
    } catch (err) {
      lastError = err;
      if (err.code !== PORT_IN_USE) throw err;
    }
  }
  throw lastError;
}

function removeRoot(root) {
  fs.rmSync(path.dirname(root), { recursive: true, force: true });
}

async function launchBrowser(credentials) {
  const { chromium } = require('playwright-core');
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'plomex-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    httpCredentials: credentials,
    viewport: { width: 1000, height: 800 },
    args: [
      '--no-sandbox',
      '--disable-gpu',
      '--disable-background-networking',
      '--disable-quic',
      '--no-first-run',
      '--disable-component-update',
      '--disable-sync',
    ],
  });
  return {
    context,
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Starts a server and a browser logged in to it before a file's tests (the
// hooks given are node:test's before and after) and stops both after them;
// the object returned holds server, browser and page.
function useSession({ before, after }) {
  const session = {};
  before(async () => {
    session.server = await startServer();
    session.browser = await launchBrowser({
      username: session.server.user, password: session.server.password,
    });
    session.page = session.browser.context.pages()[0] || (await session.browser.context.newPage());
    fs.mkdirSync(screenshotDir, { recursive: true });
  });
  after(async () => {
    if (session.browser) await session.browser.close();
    if (session.server) {
      await session.server.stop();
      removeRoot(session.server.root);
    }
  });
  return session;
}

module.exports = {
  useSession,
  startServer, removeRoot, launchBrowser, pageSettings, settingValues, screenshotDir, buildDir,
  repo, PORT_IN_USE,
};
