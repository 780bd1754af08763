'use strict';
// The history and status page as an administrator uses it, in Debian's
// chromium against the real server: the file's states with what made each
// current, what one change did, two versions compared and downloaded as a
// patch, a restore previewed and confirmed, and a stale lock cleared. Every
// page met fits 390 and 1280 px, light and dark, with nothing axe objects
// to; which lock is stale, what a refused restore leaves and the change
// log's records are the program-level tests' business.

const { after, before, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { useSession, fitsEveryWidth } = require('./server');

const session = useSession({ before, after });
const read = (file) => fs.readFileSync(file, 'utf8');
const fits = (name) => fitsEveryWidth(session.page, `status-${name}`);
const openStatus = () => session.page.goto(session.server.pageUrl('vyxstatus'));
const rows = () => session.page.locator('table.adm-history tbody tr');
// Follows the first link or submits the form of the first button so named (in scope) to its answer page.
const go = (role, name, scope = session.page) => session.follow(scope.getByRole(role, { name }).first());

async function saveSetting(field, value) {
  await session.page.goto(session.server.url);
  await session.page.fill(`input[name="${field}"]`, value);
  return go('button', 'Save');
}

test('the history lists states, each made current by the change below it, and what each change did', async () => {
  assert.match(await saveSetting('new_QZ_max_records', '700'), /Congratulations/);
  assert.match(await saveSetting('new_QZ_date_time', '<b>%d</b>'), /Congratulations/);
  await openStatus();
  assert.equal(await rows().count(), 3, 'the file as it stands and the two versions the saves replaced');
  assert.match(await rows().nth(0).innerText(), /The file as it stands[\s\S]*admin, through the settings form[\s\S]*Date and time format QZ-date-time: %m\/%d\/%Y %H:%M → <b>%d<\/b>/);
  assert.match(await rows().nth(1).innerText(), /Version 2[\s\S]*admin, through the settings form[\s\S]*Maximum records QZ-max-records: 500 → 700/);
  assert.match(await rows().nth(2).innerText(), /Outside the pages[\s\S]*the oldest kept/);
  assert.doesNotMatch(await rows().nth(2).innerText(), /What this change did/);
  await fits('history');

  await go('link', 'What this change did', rows().nth(0));
  const diff = session.page.locator('pre.adm-diff');
  assert.match(await diff.innerText(), /^-QZ-date-time=%m\/%d\/%Y %H:%M\n\+QZ-date-time = <b>%d<\/b>$/m, 'one line each, single-spaced');
  assert.equal(await diff.locator('b').count(), 0, 'markup in a value is shown, not applied');
  await fits('diff');

  const patch = await session.page.request.get(new URL(
    await session.page.getByRole('link', { name: 'Download as a patch' }).getAttribute('href'), session.page.url()).href);
  assert.match(patch.headers()['content-type'], /^text\/x-diff/);
  assert.match(patch.headers()['content-disposition'], /^attachment; filename="plomex\.conf-2-to-current\.diff"$/);
  assert.equal(`${await patch.text()}`.trimEnd(), (await diff.innerText()).trimEnd());
});

test('any two versions are compared, and a restore is previewed, confirmed and gives the row back byte for byte', async () => {
  await openStatus();
  await session.page.selectOption('#compare-from', '1');
  await session.page.selectOption('#compare-to', 'current');
  assert.match(await go('button', 'Compare'), /^-QZ-max-records=500$[\s\S]*^\+QZ-max-records=700$/m);

  const oldest = read(path.join(session.server.historyDir, '1.version'));
  await openStatus();
  const preview = await go('link', 'Restore version 1…', rows().last());
  assert.match(preview, /^-QZ-max-records=700$[\s\S]*^\+QZ-max-records=500$/m);
  assert.notEqual(read(session.server.confPath), oldest, 'a preview changes nothing');
  await fits('restore-preview');

  assert.match(await go('button', 'Restore version 1'), /Version restored/);
  assert.equal(read(session.server.confPath), oldest);
  await fits('restored');
  await openStatus();
  assert.match(await rows().nth(0).innerText(), /admin, by a restore[\s\S]*Restore of version 1, the oldest kept/);
});

test('a stale lock is explained and removed by an administrator', async () => {
  fs.writeFileSync(session.server.lockPath, `Host=${os.hostname()}, PID=2147483646\n`);
  await openStatus();
  assert.match(await session.main(), /process 2147483646[\s\S]*no longer runs/);
  await fits('stale-lock');
  assert.match(await go('button', 'Remove stale lock'), /Stale lock removed/);
  assert.equal(fs.existsSync(session.server.lockPath), false);
});
