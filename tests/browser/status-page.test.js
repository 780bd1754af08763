'use strict';
// The history and status page as a new administrator uses it, in Debian's
// chromium against the real server: what a save changed, the kept versions,
// a comparison, a restore, and a stale lock cleared. Every page met on the
// way is checked with axe-core; which lock is stale and what a refused
// restore leaves are the program-level tests' business.

const { after, before, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { useSession, screenshotDir } = require('./server');
const { violations } = require('./axe');

const session = useSession({ before, after });
const read = (file) => fs.readFileSync(file, 'utf8');
const statusUrl = () => session.server.pageUrl('vyxstatus');
const confDir = () => path.dirname(session.server.confPath);
const historyRows = () => session.page.locator('table.adm-history tbody tr');

// Every page met is accessible; its screenshot is kept when named.
async function checked(what, shot) {
  assert.deepEqual(await violations(session.page), [], `axe on ${what}`);
  if (shot) await session.page.screenshot({ path: path.join(screenshotDir, `${shot}.png`), fullPage: true });
}

// Submits the form that holds the button and waits for the answer page.
async function press(button, scope = session.page) {
  const [response] = await Promise.all([
    session.page.waitForNavigation(),
    scope.getByRole('button', { name: button }).first().click(),
  ]);
  assert.equal(response.status(), 200);
  return session.page.locator('main').innerText();
}

async function saveSetting(field, value) {
  await session.page.goto(session.server.url);
  await session.page.fill(`input[name="${field}"]`, value);
  return press('Save');
}

test('the success page lists each changed setting before and after, and links the history', async () => {
  await session.page.goto(session.server.url);
  await checked('the settings form');
  assert.match(await saveSetting('new_QZ_max_records', '700'), /Congratulations/);
  const row = session.page.locator('table.adm-changes tbody tr');
  assert.equal(await row.count(), 1);
  assert.deepEqual(await row.first().locator('th, td').allInnerTexts(), ['QZ-max-records', '500', '700']);
  await checked('the success page', 'status-saved-changes');
  await session.page.getByRole('link', { name: 'History and status' }).first().click();
  assert.equal(new URL(session.page.url()).pathname, '/admin/vyxstatus');
});

test('the kept versions are listed newest first, compared escaped, and one is restored', async () => {
  await saveSetting('new_QZ_date_time', '<b>%d</b>');
  await session.page.goto(statusUrl());
  assert.equal(await historyRows().count(), 2);
  assert.match(await historyRows().nth(0).innerText(), /admin[\s\S]*QZ-date-time set to <b>%d<\/b>/);
  await checked('the status page', 'status-history');

  await historyRows().first().getByRole('link', { name: /Compare/ }).click();
  const diff = session.page.locator('pre.adm-diff');
  assert.match(await diff.innerText(), /^-QZ-date-time=%m\/%d\/%Y %H:%M$/m);
  assert.match(await diff.innerText(), /^\+QZ-date-time = <b>%d<\/b>$/m);
  assert.equal(await diff.locator('b').count(), 0, 'markup in a value is shown, not applied');
  await checked('a comparison', 'status-diff');

  assert.match(await press('Restore this version', historyRows().last()), /Version restored/);
  assert.match(read(session.server.confPath), /^QZ-max-records=500$/m, 'the oldest version is back');
  await checked('the answer to a restore', 'status-restored');
});

test('a stale lock is explained and removed by an administrator, logged', async () => {
  const lock = path.join(confDir(), 'plomex.lock');
  fs.writeFileSync(lock, `Host=${os.hostname()}, PID=2147483646\n`);
  assert.match(await saveSetting('new_QZ_max_records', '650'), /no longer runs: the lock is stale/);
  await checked('the refusal with a stale lock');
  await session.page.goto(statusUrl());
  assert.match(await session.page.locator('main').innerText(), /process 2147483646[\s\S]*no longer runs/);
  await checked('the status page with a stale lock', 'status-stale-lock');
  assert.match(await press('Remove stale lock'), /Stale lock removed/);
  assert.equal(fs.existsSync(lock), false);
  assert.match(read(session.server.changeLogPath), /plomex\.lock: stale lock removed \(Host=.*, PID=2147483646\)\n$/);
});
