'use strict';
// The search settings page as an administrator uses it: Debian's chromium
// against lighttpd running the page as a CGI program, on a server root of
// the test's own made from the sample plomex.conf. What the page answers to
// each kind of input is the program-level tests' business, and the server's
// logins and headers the server tests'; these check what only a browser
// shows: every page met fits a phone and a desktop with nothing axe objects
// to, and the forms it gives are filled and work as a browser sends them.

const { after, before, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { useSession, formBody, pageSettings, settingValues } = require('./server');
const { fitsEveryWidth } = require('./axe');

const session = useSession({ before, after });
const read = (file) => fs.readFileSync(file, 'utf8');
const main = () => session.page.locator('main').innerText();

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

// Fills the fields given (by name) and submits the form the page shows first, or the one given.
async function save(fields, form = session.page.locator('form').first()) {
  for (const [name, value] of Object.entries(fields)) await form.locator(`input[name="${name}"]`).fill(value);
  await Promise.all([session.page.waitForNavigation(), form.locator('[type=submit]').first().click()]);
  return main();
}

test('the form shows what plomex.conf holds, and a save from it shows there', async () => {
  const inFile = settingValues(read(session.server.confPath));
  assert.deepEqual(await openForm(), Object.fromEntries(pageSettings().map((s) => [s.key, inFile[s.key]])));
  await fitsEveryWidth(session.page, 'search-settings-form');
  assert.match(await save({ new_QZ_max_records: '800', new_QZ_default_html_title: 'Recent documents' }), /Congratulations/);
  const shown = await openForm();
  assert.deepEqual([shown['QZ-max-records'], shown['QZ-default-html-title']], ['800', 'Recent documents']);
});

// Each answer page, reached from an open form as a browser reaches it, and the words that tell it
// is the page meant.
const answers = [
  ['saved', /Congratulations/, () => save({ new_QZ_default_html_title: `https://search.example/${'x'.repeat(70)}` })],
  ['error', /Value must be greater than 0/, () => save({ new_QZ_max_records: '0' })],
  ['refused', /Request refused/, async () => {
    // A body a browser would never send: the page refuses it before reading anything.
    await session.page.route(session.server.url, (route) => route.continue({ postData: `${'a'.repeat(60)}=%G1` }));
    await save({}).finally(() => session.page.unrouteAll());
  }],
  ['overwrite', /but the file held 300/, async (shown) => {
    // A colleague saves from a form of their own meanwhile.
    await (await session.server.postForm(formBody(shown, { 'QZ-max-records': '300' }))).text();
    await save({ new_QZ_max_records: '400' });
  }],
  // The browser sends the same form again.
  ['reloaded', /already held these values/, async () => {
    await save({ new_QZ_largest_set: '2000' });
    await session.page.reload();
  }],
];

test('every answer page fits a phone and a desktop, a long value included', async () => {
  for (const [name, shows, reach] of answers) {
    await reach(await openForm());
    assert.match(await main(), shows, name);
    await fitsEveryWidth(session.page, `search-settings-${name}`);
  }
});

test('while plomex.lock is present the form links the status page from a status notice that fits', async () => {
  const lock = path.join(path.dirname(session.server.confPath), 'plomex.lock');
  fs.writeFileSync(lock, `Host=build-${'0123456789'.repeat(6)}.example, PID=4242\n`);
  try {
    await openForm();
    const notice = session.page.getByRole('status').filter({ hasText: 'Saving is refused for now' });
    assert.equal(new URL(await notice.getByRole('link').getAttribute('href'), session.page.url()).pathname, '/admin/vyxstatus');
    await fitsEveryWidth(session.page, 'search-settings-locked');
    await save({ new_QZ_max_records: '10' });
    await fitsEveryWidth(session.page, 'search-settings-locked-error');
  } finally {
    fs.unlinkSync(lock);
  }
  await openForm();
  assert.equal(await session.page.locator('.adm-lock-notice').count(), 0);
});

test('a refused save gives every value back in a form that fits and saves in one step', async () => {
  await openForm();
  await save({ new_QZ_max_records: '0', new_QZ_default_html_title: 'Edited title' });
  const again = session.page.locator('form.adm-refill');
  assert.equal(await again.locator('input[name="new_QZ_default_html_title"]').inputValue(), 'Edited title');
  await fitsEveryWidth(session.page, 'search-settings-refused-values');
  assert.match(await save({ new_QZ_max_records: '5' }, again), /Congratulations/);
  const values = settingValues(read(session.server.confPath));
  assert.deepEqual([values['QZ-default-html-title'], values['QZ-max-records']], ['Edited title', '5']);
});

test('a save is undone from its success page through the restore preview', async () => {
  const before = read(session.server.confPath);
  await openForm();
  assert.match(await save({ new_QZ_largest_set: '1500' }), /Congratulations/);
  await Promise.all([session.page.waitForNavigation(), session.page.getByRole('link', { name: 'Undo this save…' }).click()]);
  assert.match(await main(), /^-QZ-largest-set = 1500$/m);
  await fitsEveryWidth(session.page, 'search-settings-undo-preview');
  await Promise.all([session.page.waitForNavigation(),
    session.page.getByRole('button', { name: /^Restore version \d+$/ }).click()]);
  assert.equal(read(session.server.confPath), before);
});
