'use strict';
// The settings' JSON interface /admin/vyxsettings through the real server:
// every status code it answers with, and two clients racing with the same ETag.
// Saves from the page and the command at once take the same transaction as
// the save storm's.

const { after, before, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { useServer, pageSettings } = require('../browser/server');

const server = useServer({ before, after });
const get = () => server.settingsEndpoint('GET');
const put = (body, headers) => server.settingsEndpoint('PUT', body, headers);

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
  // While plomex.lock is present: the page's words, then whose lock it is and what to do.
  fs.writeFileSync(server.lockPath, '');
  const locked = await put({ 'QZ-max-records': '800' }, { 'If-Match': etag });
  fs.rmSync(server.lockPath);
  assert.equal(locked.status, 409);
  assert.equal(locked.body.subject, 'plomex.conf');
  assert.ok(locked.body.message.startsWith(`Configuration file is locked. Please try again later. ${server.lockPath} is empty, since `),
    locked.body.message);
  assert.deepEqual(server.changeLog(), [], 'nothing refused was recorded');
  assert.equal((await server.settingsEndpoint('DELETE')).status, 405);

  // A list with the current ETag saves, with the ETag a GET then answers; "*" saves whatever stands.
  const saved = await put({ 'qz-MAX-records': '800' }, { 'If-Match': `"0000000000000000", ${etag}` });
  assert.equal(saved.etag, (await get()).etag);
  const again = await put({ 'QZ-max-records': '800' }, { 'If-Match': '*' });
  assert.deepEqual([saved.status, saved.body.changed, again.status, again.body.changed], [200, true, 200, false]);
  assert.deepEqual(server.changeLog().map((l) => l.replace(/^.* admin plomex\.conf: /, '')), ['QZ-max-records set to 800']);
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
