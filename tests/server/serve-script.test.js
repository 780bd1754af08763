'use strict';
// The server script as an administrator starts it: the banner names every
// address the server answers (/admin, which leads to the first page, each
// page and each endpoint of the build's lists); each wants the login the
// banner names and answers with the pages' headers; a restart on the same
// root keeps the login and the settings; a second start on a port in use
// says so and writes nothing. The settings of saves given in its environment
// reach the pages (the history keeps KELMRIX_HISTORY_KEEP versions, a save
// waits KELMRIX_LOCK_WAIT seconds for the run lock), and a value the pages
// could not use stops the start before anything is written. Run as root on a server root that belongs to
// another account ("nobody" here), links planted in the root lead nowhere
// root would write, the root is laid out and served as its owner, and a
// folder or a root that is a link is refused.

const { after, before, test } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { useServer, startServer, serveSync, scratch, buildDir, PORT_IN_USE } = require('../browser/server');

const NOBODY = 65534;
const needsRoot = { skip: process.getuid() !== 0 && 'needs root' };
const listed = (name) => fs.readFileSync(path.join(buildDir, name), 'utf8').split('\n').filter(Boolean);
const configured = useServer({ before, after }, { env: { KELMRIX_HISTORY_KEEP: '2', KELMRIX_LOCK_WAIT: '0' } });
const save = async (records) =>
  (await configured.settingsEndpoint('PUT', { 'QZ-max-records': String(records) }, { 'If-Match': '*' })).status;

test('the banner names every address served, each wants its login, and a restart keeps both', async (t) => {
  let server = await startServer(undefined, { quiet: false });
  t.after(() => server.close());
  // The banner is written before the server starts; its last line may still be on its way.
  while (!server.output().includes('Ctrl-C')) await new Promise((resolve) => setTimeout(resolve, 50));
  const banner = server.output();
  const named = [...banner.matchAll(/http:\/\/127\.0\.0\.1:\d+\/\S*/g)].map(([address]) => address).sort();
  const pages = listed('pages');
  assert.deepEqual(named, ['/admin', ...[...pages, ...listed('endpoints')].map((name) => `/admin/${name}`)]
    .map((address) => server.pageUrl(address)).sort());
  assert.match(banner, new RegExp(`User name: +${server.user}\\n +Password: +${server.password}\\n`));
  const wrong = `Basic ${Buffer.from(`${server.user}:no`).toString('base64')}`;
  for (const address of named) {
    for (const headers of [{}, { Authorization: wrong }]) assert.equal((await fetch(server.pageUrl(address), { headers })).status, 401, address);
    const answer = await server.request(address);
    assert.equal(answer.status, 200, address);
    assert.equal(answer.url, address === server.pageUrl('/admin') ? server.pageUrl(pages[0]) : address);
    assert.equal(answer.headers.get('cache-control'), 'no-store', address);
    assert.equal(answer.headers.get('x-content-type-options'), 'nosniff', address);
    for (const rule of ["default-src 'none'", "frame-ancestors 'none'"]) assert.ok(answer.headers.get('content-security-policy').includes(rule), address);
  }

  fs.appendFileSync(server.confPath, 'QZ-restart-mark = kept\n');
  const { root, password } = server;
  await server.stop();
  server = await startServer(root);
  assert.equal(server.password, password);
  assert.equal(server.settings()['QZ-restart-mark'], 'kept');
  assert.equal((await server.request()).status, 200);
  const second = path.join(path.dirname(root), 'second');
  const clash = serveSync(second, server.port);
  assert.equal(clash.status, PORT_IN_USE, clash.stderr);
  assert.match(clash.stderr, new RegExp(`port ${server.port} .*already in use`));
  assert.ok(!fs.existsSync(second), 'a start on a busy port wrote a server root');
});

test('the history keeps KELMRIX_HISTORY_KEEP versions', async () => {
  const kept = () => fs.readdirSync(configured.historyDir).filter((n) => /^\d+\.version$/.test(n));
  for (const records of [801, 802, 803, 804, 805]) {
    assert.equal(await save(records), 200);
    // Each kept version keeps its own description: only a dropped one's is reused.
    for (const name of kept()) assert.ok(fs.existsSync(path.join(configured.historyDir, name.replace('.version', '.info'))), name);
  }
  assert.equal(kept().length, 2);
});

test('with KELMRIX_LOCK_WAIT 0 a save does not wait for a run that holds the lock', async (t) => {
  // flock(1) holds the run lock until it is killed, or for 3 s: a save that waited
  // (the default is 10 s) would get the lock then and succeed.
  const holder = spawn('flock', [path.join(configured.root, 'config', 'admin.runlock'), '-c', 'echo held; exec sleep 3'],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  t.after(() => holder.kill());
  await new Promise((resolve, reject) => {
    holder.stdout.once('data', resolve);
    holder.once('exit', (code) => reject(new Error(`flock ended with ${code}`)));
  });
  assert.equal(await save(900), 409);
});

test('a value the pages could not use is refused before anything is written', (t) => {
  const root = path.join(scratch('refused', t), 'root');
  for (const [name, value] of [['KELMRIX_HISTORY_KEEP', 'ten'], ['KELMRIX_HISTORY_KEEP', '100001'],
    ['KELMRIX_LOCK_WAIT', '3601']]) {
    const run = serveSync(root, 1, { [name]: value });
    assert.equal(run.status, 1, `${name}=${value}`);
    assert.match(run.stderr, new RegExp(`${name} must be a whole number`), `${name}=${value}`);
    assert.ok(!fs.existsSync(root), `${name}=${value} wrote no root`);
  }
});

// A scratch folder any account can enter, a root in it that belongs to nobody, and a file
// of root's that nobody may read or write; all removed after the test t.
function layOut(t) {
  const top = scratch('owned', t);
  fs.chmodSync(top, 0o755);
  const root = path.join(top, 'root');
  for (const dir of ['', 'admin', 'admin/run', 'admin/auth']) {
    fs.mkdirSync(path.join(root, dir), { recursive: true });
    fs.chownSync(path.join(root, dir), NOBODY, NOBODY);
  }
  const victim = path.join(top, 'root-only');
  fs.writeFileSync(victim, 'root only\n', { mode: 0o600 });
  return { top, root, victim };
}

test('as root, planted links are never written through, and the root is served as its owner', needsRoot, async (t) => {
  const { root, victim } = layOut(t);
  fs.symlinkSync(victim, path.join(root, 'admin/run/lighttpd.conf'));
  fs.symlinkSync(victim, path.join(root, 'admin/auth/password'));
  const server = await startServer(root);
  assert.equal((await server.request().finally(server.stop)).status, 200);
  assert.equal(fs.readFileSync(victim, 'utf8'), 'root only\n');
  assert.equal(fs.statSync(victim).mode & 0o777, 0o600);
  for (const made of ['admin/run/lighttpd.conf', 'admin/auth/password', 'admin/auth/htpasswd', 'config/plomex.conf']) {
    const st = fs.lstatSync(path.join(root, made));
    assert.ok(st.isFile(), `${made} is a file of its own`);
    assert.equal(st.uid, NOBODY, `${made} belongs to the root's owner`);
  }
  assert.deepEqual(fs.readdirSync('/tmp').filter((n) => n.startsWith('plomex-serve.')), [], 'the staged copy is gone');
});

test('as root, a folder of the root or the root itself that is a link is refused', needsRoot, (t) => {
  const { top, root, victim } = layOut(t);
  const elsewhere = path.join(top, 'elsewhere');
  fs.mkdirSync(elsewhere, { mode: 0o755 });
  fs.rmSync(path.join(root, 'admin/auth'), { recursive: true });
  fs.symlinkSync(elsewhere, path.join(root, 'admin/auth'));
  fs.symlinkSync(root, path.join(top, 'link'));
  for (const [given, said] of [[root, 'admin/auth is a symbolic link'], [path.join(top, 'link'), 'is a symbolic link']]) {
    const run = serveSync(given, 1);
    assert.notEqual(run.status, 0);
    assert.match(run.stderr, new RegExp(said));
  }
  assert.deepEqual(fs.readdirSync(elsewhere), []);
  assert.equal(fs.statSync(elsewhere).mode & 0o777, 0o755);
  assert.equal(fs.readFileSync(victim, 'utf8'), 'root only\n');
});
