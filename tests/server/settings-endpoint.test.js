'use strict';
// The settings' JSON interface /admin/vyxsettings through the real server:
// every status code it answers with, two clients racing with the same ETag,
// and a page save meeting a vyxsettings run.

const { after, before, test } = require('node:test');
const assert = require('node:assert/strict');
const { execFile } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { promisify } = require('node:util');
const { useServer, formBody, pageSettings, buildDir } = require('../browser/server');

const server = useServer({ before, after });
const get = () => server.settingsEndpoint('GET');
const put = (body, headers) => server.settingsEndpoint('PUT', body, headers);
const versions = () => fs.readdirSync(server.historyDir).filter((n) => n.endsWith('.version')).length;

test('each answer has its status code, and only a sound change with a current ETag is saved', async () => {
  const read = await get();
  assert.equal(read.status, 200);
  assert.match(read.etag, /^"[0-9a-f]{16}"$/);
  assert.deepEqual(read.body, Object.fromEntries(pageSettings().map((s) => [s.key, server.settings()[s.key]])));
  const etag = read.etag;
  const cases = [
    ['no If-Match', { 'QZ-max-records': '800' }, {}, 428],
    ['not JSON', '{}', { 'Content-Type': 'text/plain' }, 415],
    ['too large', JSON.stringify({ 'QZ-date-time': 'x'.repeat(70000) }), { 'If-Match': etag }, 413],
    ['another site', { 'QZ-max-records': '800' }, { 'If-Match': etag, Origin: 'http://elsewhere.example' }, 403],
    ['another site, by fetch metadata', { 'QZ-max-records': '800' }, { 'If-Match': etag, 'Sec-Fetch-Site': 'cross-site' }, 403],
    ['a value the page refuses', { 'QZ-max-records': '0' }, { 'If-Match': etag }, 400, { subject: 'Max Records', message: 'Value must be greater than 0' }],
    ['not an object of strings', '{"QZ-max-records": 800}', { 'If-Match': etag }, 400],
    ['a stale ETag', { 'QZ-max-records': '800' }, { 'If-Match': '"0000000000000000"' }, 412],
    ['a weak ETag never matches', { 'QZ-max-records': '800' }, { 'If-Match': `W/${etag}` }, 412],
    ['a list without a strong match', { 'QZ-max-records': '800' }, { 'If-Match': `"x" , W/${etag}` }, 412],
    ['no entity tag', { 'QZ-max-records': '800' }, { 'If-Match': etag.slice(1, -1) }, 400],
    ['a NUL byte', { 'QZ-default-html-title': 'abc\u0000def' }, { 'If-Match': etag }, 400],
  ];
  for (const [name, body, headers, status, error] of cases) {
    const answer = await put(body, headers);
    assert.equal(answer.status, status, name);
    if (error) assert.deepEqual(answer.body, error, name);
  }
  // While plomex.lock is present.
  fs.writeFileSync(server.lockPath, '');
  const locked = await put({ 'QZ-max-records': '800' }, { 'If-Match': etag });
  fs.rmSync(server.lockPath);
  assert.equal(locked.status, 409);
  assert.deepEqual(server.changeLog(), [], 'nothing refused was recorded');
  assert.equal((await server.settingsEndpoint('DELETE')).status, 405);

  const saved = await put({ 'qz-MAX-records': '800' }, { 'If-Match': `"0000000000000000", ${etag}` });
  assert.equal(saved.status, 200);
  assert.equal(saved.body.changed, true);
  assert.equal(saved.etag, (await get()).etag);
  const again = await put({ 'QZ-max-records': '800' }, { 'If-Match': '*' });
  assert.equal(again.status, 200);
  assert.equal(again.body.changed, false);
  assert.equal(server.changeLog().length, 1);
  assert.match(server.changeLog()[0], / admin plomex\.conf: QZ-max-records set to 800$/);
});

test('two clients changing the settings from the same ETag: exactly one wins', async () => {
  for (let round = 0; round < 5; round++) {
    const { etag } = await get();
    const answers = await Promise.all(['11', '12'].map((v) => put({ 'QZ-max-records': `${round}${v}` }, { 'If-Match': etag })));
    assert.deepEqual(answers.map((a) => a.status).sort(), [200, 412]);
    const winner = answers.find((a) => a.status === 200).body.settings['QZ-max-records'];
    assert.equal((await get()).body['QZ-max-records'], winner);
  }
});

test('a page save and a vyxsettings run at the same moment are both saved, one version each', async () => {
  const form = formBody(server.settings(), { 'QZ-date-time': 'page %H' });
  const [versionsBefore, linesBefore] = [versions(), server.changeLog().length];
  const env = { ...process.env, KELMRIX_ROOT: server.root };
  delete env.GATEWAY_INTERFACE;
  const [page, command] = await Promise.all([
    server.postForm(form).then((r) => r.text()),
    promisify(execFile)(path.join(buildDir, 'bin', 'vyxsettings'), ['set', 'QZ-default-html-title=command title'], { env }),
  ]);
  assert.match(page, /Congratulations/);
  assert.match(command.stdout, /\nchanged\n$/);
  const values = server.settings();
  assert.deepEqual([values['QZ-date-time'], values['QZ-default-html-title']], ['page %H', 'command title']);
  assert.equal(versions(), versionsBefore + 2);
  assert.deepEqual(server.changeLog().slice(linesBefore).map((l) => l.replace(/^.* plomex\.conf: /, '')).sort(),
    ['QZ-date-time set to page %H', 'QZ-default-html-title set to command title']);
});
