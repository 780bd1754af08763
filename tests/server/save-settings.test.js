'use strict';
// The settings of saves given to the server script in its environment reach
// the pages through the real server: the history keeps KELMRIX_HISTORY_KEEP
// versions, a save waits KELMRIX_LOCK_WAIT seconds for the run lock, and a
// value the pages could not use stops the start before anything is written.

const { after, before, test } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { useServer, serveSync } = require('../browser/server');

const server = useServer({ before, after }, { env: { KELMRIX_HISTORY_KEEP: '2', KELMRIX_LOCK_WAIT: '0' } });

// Sets the maximum of records through /admin/vyxsettings; returns the answer's status.
async function save(records) {
  const answer = await fetch(server.pageUrl('vyxsettings'), {
    method: 'PUT',
    headers: { Authorization: server.auth, 'Content-Type': 'application/json', 'If-Match': '*' },
    body: JSON.stringify({ 'QZ-max-records': String(records) }),
  });
  await answer.arrayBuffer();
  return answer.status;
}

test('the history keeps KELMRIX_HISTORY_KEEP versions', async () => {
  const history = path.join(server.root, 'config', 'history', 'plomex.conf');
  const kept = () => fs.readdirSync(history).filter((n) => /^\d+\.version$/.test(n));
  for (const records of [801, 802, 803, 804, 805]) {
    assert.equal(await save(records), 200);
    // Each kept version keeps its own description: only a dropped one's is reused.
    for (const name of kept()) assert.ok(fs.existsSync(path.join(history, name.replace('.version', '.info'))), name);
  }
  assert.equal(kept().length, 2);
});

test('with KELMRIX_LOCK_WAIT 0 a save does not wait for a run that holds the lock', async (t) => {
  // flock(1) holds the run lock until it is killed, or for 3 s: a save that waited
  // (the default is 10 s) would get the lock then and succeed.
  const holder = spawn('flock', [path.join(server.root, 'config', 'admin.runlock'), '-c', 'echo held; exec sleep 3'],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  t.after(() => holder.kill());
  await new Promise((resolve, reject) => {
    holder.stdout.once('data', resolve);
    holder.once('exit', (code) => reject(new Error(`flock ended with ${code}`)));
  });
  assert.equal(await save(900), 409);
});

test('a value the pages could not use is refused before anything is written', (t) => {
  const top = fs.mkdtempSync(path.join(os.tmpdir(), 'plomex-refused-'));
  t.after(() => fs.rmSync(top, { recursive: true, force: true }));
  const root = path.join(top, 'root');
  for (const [name, value] of [['KELMRIX_HISTORY_KEEP', 'ten'], ['KELMRIX_HISTORY_KEEP', '100001'],
    ['KELMRIX_HISTORY_KEEP', '-1'], ['KELMRIX_LOCK_WAIT', '3601'], ['KELMRIX_LOCK_WAIT', '2.5']]) {
    const run = serveSync(root, 1, { [name]: value });
    assert.equal(run.status, 1, `${name}=${value}`);
    assert.match(run.stderr, new RegExp(`${name} must be a whole number`), `${name}=${value}`);
    assert.ok(!fs.existsSync(root), `${name}=${value} wrote no root`);
  }
});
