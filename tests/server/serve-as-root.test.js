'use strict';
// The server script run as root on a server root that belongs to another
// account ("nobody" here): links planted in the root lead nowhere root
// would write, the root is laid out and served as its owner, and a folder
// or a root that is a link is refused.

const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { startServer, serveSync, scratch } = require('../browser/server');

const NOBODY = 65534;
const needsRoot = { skip: process.getuid() !== 0 && 'needs root' };

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

test('planted links are never written through, and the root is served as its owner', needsRoot, async (t) => {
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

test('a folder of the root or the root itself that is a link is refused', needsRoot, (t) => {
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
