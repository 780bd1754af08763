'use strict';
// The search settings page as an administrator uses it: Debian's chromium
// against lighttpd running the page as a CGI program, on a server root of
// the test's own made from the sample plomex.conf. What the page answers to
// each kind of input is the program-level tests' business; these check what
// only the real server and a browser show.

const { after, before, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const {
  startServer, useSession, pageSettings, settingValues, serveArgs, screenshotDir, repo, PORT_IN_USE,
} = require('./server');

const session = useSession({ before, after });
const read = (file) => fs.readFileSync(file, 'utf8');
const shot = (name) => session.page.screenshot({ path: path.join(screenshotDir, `${name}.png`), fullPage: true });

// Opens the form and returns the value each setting shows, by key.
async function openForm() {
  assert.equal((await session.page.goto(session.server.url)).status(), 200);
  const values = {};
  for (const s of pageSettings()) {
    const input = session.page.locator(`input[name="${s.newField}"]${s.type === 'radio' ? ':checked' : ''}`);
    values[s.key] = await input.getAttribute('value');
  }
  return values;
}

async function save(fields) {
  for (const [name, value] of Object.entries(fields)) await session.page.fill(`input[name="${name}"]`, value);
  await Promise.all([session.page.waitForNavigation(), session.page.locator('form [type=submit]').first().click()]);
  return session.page.locator('body').innerText();
}

test('the server asks for a login, sets the page headers and refuses a body over 64 KiB', async () => {
  const { url, user } = session.server;
  assert.equal((await fetch(url)).status, 401);
  const wrong = await fetch(url, { headers: { Authorization: `Basic ${Buffer.from(`${user}:no`).toString('base64')}` } });
  assert.equal(wrong.status, 401);

  const headers = await (await session.page.goto(url)).allHeaders();
  assert.equal(headers['cache-control'], 'no-store');
  assert.equal(headers['x-content-type-options'], 'nosniff');
  for (const rule of ["default-src 'none'", "frame-ancestors 'none'"]) assert.ok(headers['content-security-policy'].includes(rule));

  const unchanged = read(session.server.confPath);
  const big = await session.page.request.post(url, {
    headers: { 'Content-Type': 'application/x-www-form-urlencoded', Origin: new URL(url).origin },
    data: `new_QZ_max_records=${'9'.repeat(70 * 1024)}`,
  });
  assert.equal(big.status(), 413);
  assert.equal(read(session.server.confPath), unchanged);
});

test('a save from the form reaches plomex.conf and shows on the form', async () => {
  const inFile = settingValues(read(session.server.confPath));
  assert.deepEqual(await openForm(), Object.fromEntries(pageSettings().map((s) => [s.key, inFile[s.key]])));
  await shot('search-settings-form');
  assert.match(await save({ new_QZ_max_records: '800', new_QZ_default_html_title: 'Recent documents' }), /Congratulations/);
  await shot('search-settings-saved');
  assert.match(read(session.server.confPath), /^QZ-max-records = 800$/m);
  assert.match(read(session.server.changeLogPath), /\badmin\b.*QZ-default-html-title set to Recent documents\n$/);
  const shown = await openForm();
  assert.deepEqual([shown['QZ-max-records'], shown['QZ-default-html-title']], ['800', 'Recent documents']);
});

test('a restart keeps the saved settings and the login; a second server on its port says so', async () => {
  const { root, password } = session.server;
  await session.server.stop();
  session.server = await startServer(root);
  assert.equal(session.server.password, password);
  assert.equal((await openForm())['QZ-max-records'], '800');

  const clash = spawnSync(path.join(repo, 'scripts', 'serve.sh'), serveArgs(root, session.server.port),
    { encoding: 'utf8', timeout: 20000 });
  assert.equal(clash.status, PORT_IN_USE, clash.stderr);
  assert.match(clash.stderr, new RegExp(`port ${session.server.port} .*already in use`));
});
