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
const { useSession, formBody, pageSettings, fitsEveryWidth } = require('./server');

const session = useSession({ before, after });
const fits = (name) => fitsEveryWidth(session.page, `search-settings-${name}`);

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
  return session.follow(form.locator('[type=submit]').first());
}

test('the form shows what plomex.conf holds, and a save from it shows there', async () => {
  const inFile = session.server.settings();
  assert.deepEqual(await openForm(), Object.fromEntries(pageSettings().map((s) => [s.key, inFile[s.key]])));
  await fits('form');
  assert.match(await save({ new_QZ_max_records: '800', new_QZ_default_html_title: 'Recent documents' }), /Congratulations/);
  const shown = await openForm();
  assert.deepEqual([shown['QZ-max-records'], shown['QZ-default-html-title']], ['800', 'Recent documents']);
});

// Each answer page, reached from an open form as a browser reaches it, and the words that tell it
// is the page meant; the last two while plomex.lock is present.
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
  ['locked', /Saving is refused for now/, async () => {
    fs.writeFileSync(session.server.lockPath, `Host=build-${'0123456789'.repeat(6)}.example, PID=4242\n`);
    await session.page.reload();
  }],
  ['locked-error', /Configuration file is locked/, () => save({ new_QZ_max_records: '10' })],
];

test('every answer page fits a phone and a desktop, a long value included', async (t) => {
  t.after(() => fs.rmSync(session.server.lockPath));
  for (const [name, shows, reach] of answers) {
    await reach(await openForm());
    assert.match(await session.main(), shows, name);
    await fits(name);
  }
});

test('a refused save gives every value back in a form that saves in one step', async () => {
  await openForm();
  await save({ new_QZ_max_records: '0', new_QZ_default_html_title: 'Edited title' });
  assert.match(await save({ new_QZ_max_records: '5' }, session.page.locator('form.adm-refill')), /Congratulations/);
  const values = session.server.settings();
  assert.deepEqual([values['QZ-default-html-title'], values['QZ-max-records']], ['Edited title', '5']);
});

test('a save is undone from its success page through the restore preview', async () => {
  const before = fs.readFileSync(session.server.confPath, 'utf8');
  await openForm();
  assert.match(await save({ new_QZ_largest_set: '1500' }), /Congratulations/);
  assert.match(await session.follow(session.page.getByRole('link', { name: 'Undo this save…' })), /^-QZ-largest-set = 1500$/m);
  await session.follow(session.page.getByRole('button', { name: /^Restore version \d+$/ }));
  assert.equal(fs.readFileSync(session.server.confPath, 'utf8'), before);
});
