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
        return {
          root,
          port,
          url: `http://127.0.0.1:${port}/admin/vyxcfgsrch`,
          pageUrl: (page) => `http://127.0.0.1:${port}/admin/${page}`,
          user: 'admin',
          password: fs.readFileSync(path.join(root, 'admin', 'auth', 'password'), 'utf8').trim(),
          confPath: path.join(root, 'config', 'plomex.conf'),
          changeLogPath: path.join(root, 'admin', 'logs', 'change.log'),
          output: () => output,
          stop: async () => { if (child.exitCode === null) child.kill('SIGTERM'); await exited; },
        };
      }
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    if (child.exitCode === null) child.kill('SIGTERM');
    const code = await exited;
    if (code !== PORT_IN_USE || attempt === 5) throw new Error(`administration server did not start (exit ${code}):\n${output}`);
  }
}

const removeRoot = (root) => fs.rmSync(path.dirname(root), { recursive: true, force: true });

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
    await session.server?.stop();
    if (session.server) removeRoot(session.server.root);
  });
  return session;
}

module.exports = {
  useSession, startServer, removeRoot, pageSettings, settingValues, serveArgs, screenshotDir, repo, buildDir,
  PORT_IN_USE,
};
