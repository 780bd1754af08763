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
const { useServer, formBody, pageSettings, settingValues, buildDir } = require('../browser/server');

const server = useServer({ before, after });

const url = () => server.pageUrl('vyxsettings');
const versions = () => fs.readdirSync(path.join(server.root, 'config', 'history', 'plomex.conf'))
  .filter((n) => n.endsWith('.version')).length;
const logLines = () => (fs.existsSync(server.changeLogPath) ? fs.readFileSync(server.changeLogPath, 'utf8').trim().split('\n') : []);

async function get() {
  const response = await fetch(url(), { headers: { Authorization: server.auth } });
  return { status: response.status, etag: response.headers.get('etag'), body: await response.json() };
}

// A PUT of body (an object is sent as JSON) with headers on top of the login and JSON's type.
async function put(body, headers = {}) {
  const response = await fetch(url(), {
    method: 'PUT',
    headers: { Authorization: server.auth, 'Content-Type': 'application/json', ...headers },
    body: typeof body === 'string' ? body : JSON.stringify(body),
  });
  const text = await response.text();
  const json = (response.headers.get('content-type') || '').startsWith('application/json');
  return { status: response.status, etag: response.headers.get('etag'), body: json ? JSON.parse(text) : text };
}

test('each answer has its status code, and only a sound change with a current ETag is saved', async () => {
  const read = await get();
  assert.equal(read.status, 200);
  assert.match(read.etag, /^"[0-9a-f]{16}"$/);
  assert.deepEqual(read.body, Object.fromEntries(pageSettings().map((s) => [s.key, settingValues(fs.readFileSync(server.confPath, 'utf8'))[s.key]])));
  const etag = read.etag;
  const lockPath = path.join(server.root, 'config', 'plomex.lock');
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
  fs.writeFileSync(lockPath, '');
  const locked = await put({ 'QZ-max-records': '800' }, { 'If-Match': etag });
  fs.rmSync(lockPath);
  assert.equal(locked.status, 409);
  assert.equal(locked.body.subject, 'plomex.conf');
  assert.ok(locked.body.message.startsWith(`Configuration file is locked. Please try again later. ${lockPath} is empty, since `), locked.body.message);
  assert.deepEqual(logLines(), [], 'nothing refused was recorded');
  assert.equal((await fetch(url(), { method: 'DELETE', headers: { Authorization: server.auth } })).status, 405);
  assert.equal((await fetch(url())).status, 401);

  const saved = await put({ 'qz-MAX-records': '800' }, { 'If-Match': `"0000000000000000", ${etag}` });
  assert.equal(saved.status, 200);
  assert.equal(saved.body.changed, true);
  assert.equal(saved.etag, (await get()).etag);
  const again = await put({ 'QZ-max-records': '800' }, { 'If-Match': '*' });
  assert.equal(again.status, 200);
  assert.equal(again.body.changed, false);
  assert.equal(logLines().length, 1);
  assert.match(logLines()[0], / admin plomex\.conf: QZ-max-records set to 800$/);
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
  const form = formBody(settingValues(fs.readFileSync(server.confPath, 'utf8')), { 'QZ-date-time': 'page %H' });
  const [versionsBefore, linesBefore] = [versions(), logLines().length];
  const env = { ...process.env, KELMRIX_ROOT: server.root };
  delete env.GATEWAY_INTERFACE;
  const [page, command] = await Promise.all([
    server.postForm(form).then((r) => r.text()),
    promisify(execFile)(path.join(buildDir, 'bin', 'vyxsettings'), ['set', 'QZ-default-html-title=command title'], { env }),
  ]);
  assert.match(page, /Congratulations/);
  assert.match(command.stdout, /\nchanged\n$/);
  const values = settingValues(fs.readFileSync(server.confPath, 'utf8'));
  assert.deepEqual([values['QZ-date-time'], values['QZ-default-html-title']], ['page %H', 'command title']);
  assert.equal(versions(), versionsBefore + 2);
  assert.deepEqual(logLines().slice(linesBefore).map((l) => l.replace(/^.* plomex\.conf: /, '')).sort(),
    ['QZ-date-time set to page %H', 'QZ-default-html-title set to command title']);
});
