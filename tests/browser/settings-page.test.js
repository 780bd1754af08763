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
  startServer, useSession, pageSettings, settingValues, serveArgs, repo, PORT_IN_USE,
} = require('./server');
const { fitsEveryWidth } = require('./axe');

const session = useSession({ before, after });
const read = (file) => fs.readFileSync(file, 'utf8');
const fits = (name) => fitsEveryWidth(session.page, name);

// The form as a browser sends it: every field at its shown value, changed by fields.
function formBody(shown, fields) {
  const body = new URLSearchParams();
  for (const s of pageSettings()) {
    body.set(s.origField, shown[s.key]);
    body.set(s.newField, fields[s.newField] ?? shown[s.key]);
  }
  return body.toString();
}

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
  await fits('search-settings-form');
  assert.match(await save({ new_QZ_max_records: '800', new_QZ_default_html_title: 'Recent documents' }), /Congratulations/);
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

test('the success, error and refusal pages fit a phone, a long value included', async () => {
  await openForm();
  const long = `https://search.example/${'x'.repeat(70)}`;
  assert.match(await save({ new_QZ_default_html_title: long }), /Congratulations/);
  await fits('search-settings-saved');

  await openForm();
  assert.match(await save({ new_QZ_max_records: '0' }), /Max Records[\s\S]*Value must be greater than 0/);
  await fits('search-settings-error');

  // A body the browser would never send: the page refuses it before reading anything.
  await openForm();
  await session.page.route(session.server.url, (route) => route.continue({ postData: `${'a'.repeat(60)}=%G1` }));
  assert.match(await save({}), /Request refused[\s\S]*%-escape/);
  await session.page.unrouteAll();
  await fits('search-settings-refused');
});

test('a form older than the file says which value its save replaced and who had saved it', async () => {
  const shown = await openForm();
  // A colleague saves from a form of their own meanwhile.
  const colleague = await session.page.request.post(session.server.url, {
    headers: { 'Content-Type': 'application/x-www-form-urlencoded', Origin: new URL(session.server.url).origin },
    data: formBody(shown, { new_QZ_max_records: '300' }),
  });
  assert.match(await colleague.text(), /Congratulations/);
  assert.match(await save({ new_QZ_max_records: '400' }), /but the file held 300/);
  await fits('search-settings-overwrite');
});

test('while plomex.lock is present the form says who holds it and links the status page', async () => {
  const lock = path.join(path.dirname(session.server.confPath), 'plomex.lock');
  const host = `build-${'0123456789'.repeat(6)}.example`;
  fs.writeFileSync(lock, `Host=${host}, PID=4242\n`);
  try {
    await openForm();
    const notice = session.page.getByRole('status').filter({ hasText: 'Saving is refused for now' });
    assert.match(await notice.innerText(), new RegExp(`held by process 4242 on host ${host}`));
    assert.equal(new URL(await notice.getByRole('link').getAttribute('href'), session.page.url()).pathname, '/admin/vyxstatus');
    await fits('search-settings-locked');
    await save({ new_QZ_max_records: '10' });
    await fits('search-settings-locked-error');
  } finally {
    fs.unlinkSync(lock);
  }
  await openForm();
  assert.equal(await session.page.locator('.adm-lock-notice').count(), 0);
});

test('a reload of a success page says the file already held the values', async () => {
  await openForm();
  assert.match(await save({ new_QZ_largest_set: '2000' }), /Congratulations/);
  const versions = () => fs.readdirSync(path.join(path.dirname(session.server.confPath), 'history', 'plomex.conf'))
    .filter((f) => f.endsWith('.version')).length;
  const kept = versions();
  // The browser sends the same form again.
  await session.page.reload();
  const answer = await session.page.locator('main').innerText();
  assert.match(answer, /Congratulations[\s\S]*plomex\.conf already held these values/);
  assert.equal(versions(), kept);
});


test('a refused save gives every value back in a form that saves in one step', async () => {
  await openForm();
  const answer = await save({ new_QZ_max_records: '0', new_QZ_default_html_title: 'Edited title' });
  assert.match(answer, /Max Records[\s\S]*Value must be greater than 0/);
  const again = session.page.locator('form.adm-refill');
  assert.equal(await again.locator('input[name="new_QZ_default_html_title"]').inputValue(), 'Edited title');
  const faulty = again.locator('input[name="new_QZ_max_records"]');
  await fits('search-settings-refused-values');
  await faulty.fill('5');
  await Promise.all([session.page.waitForNavigation(), again.locator('[type=submit]').click()]);
  assert.match(await session.page.locator('main').innerText(), /Congratulations/);
  assert.match(read(session.server.confPath), /^QZ-default-html-title = Edited title$/m);
  assert.match(read(session.server.confPath), /^QZ-max-records = 5$/m);
});

test('a save is undone from its success page through the restore preview', async () => {
  const before = read(session.server.confPath);
  await openForm();
  assert.match(await save({ new_QZ_largest_set: '1500' }), /Congratulations/);
  await Promise.all([session.page.waitForNavigation(), session.page.getByRole('link', { name: 'Undo this save…' }).click()]);
  const preview = await session.page.locator('main').innerText();
  assert.match(preview, /Restore version \d+, saved by admin/);
  assert.match(preview, /^-QZ-largest-set = 1500$/m);
  await fits('search-settings-undo-preview');
  await Promise.all([session.page.waitForNavigation(),
    session.page.getByRole('button', { name: /^Restore version \d+$/ }).click()]);
  assert.match(await session.page.locator('main').innerText(), /Version restored/);
  assert.equal(read(session.server.confPath), before);
});
