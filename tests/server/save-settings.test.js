'use strict';
// The settings of saves given to the server script in its environment reach
// the pages through the real server: the history keeps KELMRIX_HISTORY_KEEP
// versions (KELMRIX_LOCK_WAIT goes the same way, and what it does is the
// program-level tests' business), and a value the pages could not use stops
// the start before anything is written.

const { after, before, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { useServer, serveSync, scratch } = require('../browser/server');

const server = useServer({ before, after }, { env: { KELMRIX_HISTORY_KEEP: '2' } });

test('the history keeps KELMRIX_HISTORY_KEEP versions', async () => {
  const kept = () => fs.readdirSync(server.historyDir).filter((n) => /^\d+\.version$/.test(n));
  for (const records of [801, 802, 803, 804, 805]) {
    const save = await server.settingsEndpoint('PUT', { 'QZ-max-records': String(records) }, { 'If-Match': '*' });
    assert.equal(save.status, 200);
    // Each kept version keeps its own description: only a dropped one's is reused.
    for (const name of kept()) assert.ok(fs.existsSync(path.join(server.historyDir, name.replace('.version', '.info'))), name);
  }
  assert.equal(kept().length, 2);
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
