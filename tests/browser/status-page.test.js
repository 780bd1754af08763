'use strict';
// The history and status page as a new administrator uses it, in Debian's
// chromium against the real server: what a save changed, the kept versions,
// a comparison, a restore, and a stale lock cleared (a live one refused).
// Every page met on the way is checked with axe-core.

const { after, before, describe, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { useSession, screenshotDir } = require('./server');
const { violations } = require('./axe');

const session = useSession({ before, after });

const read = (file) => (fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : null);
const statusUrl = () => session.server.pageUrl('vyxstatus');
const lockPath = () => path.join(path.dirname(session.server.confPath), 'plomex.lock');
const shot = (name) => session.page.screenshot({ path: path.join(screenshotDir, `${name}.png`), fullPage: true });

async function accessible(name) {
  assert.deepEqual(await violations(session.page), [], `axe on ${name}`);
}

// Submits the form that holds the named button and waits for the answer page.
async function press(button) {
  const [response] = await Promise.all([
    session.page.waitForNavigation(),
    session.page.getByRole('button', { name: button }).first().click(),
  ]);
  assert.equal(response.status(), 200);
  return session.page.locator('main').innerText();
}

async function saveSetting(field, value) {
  await session.page.goto(session.server.url);
  await session.page.fill(`input[name="${field}"]`, value);
  return press('Save');
}

describe('what a save changed', () => {
  test('the success page lists each changed setting before and after, and links the history', async () => {
    await session.page.goto(session.server.url);
    await accessible('the settings form');
    const text = await saveSetting('new_QZ_max_records', '700');
    assert.match(text, /Congratulations/);
    const row = session.page.locator('table.adm-changes tbody tr');
    assert.equal(await row.count(), 1);
    assert.deepEqual(await row.first().locator('th, td').allInnerTexts(), ['QZ-max-records', '500', '700']);
    await accessible('the success page');
    await shot('status-saved-changes');
    await session.page.getByRole('link', { name: 'History and status' }).first().click();
    assert.equal(new URL(session.page.url()).pathname, '/admin/vyxstatus');
  });
});

describe('history', () => {
  test('every save keeps the version it replaced, newest first, with who and what', async () => {
    await saveSetting('new_QZ_default_html_title', 'Found documents');
    await session.page.goto(statusUrl());
    const rows = session.page.locator('table.adm-history tbody tr');
    assert.equal(await rows.count(), 2);
    assert.match(await rows.nth(0).innerText(), /admin[\s\S]*QZ-default-html-title set to Found documents/);
    assert.match(await rows.nth(1).innerText(), /QZ-max-records set to 700/);
    const log = await session.page.locator('ol.adm-log li').allInnerTexts();
    assert.match(log[0], /QZ-default-html-title set to Found documents/);
    await accessible('the status page');
    await shot('status-history');
  });

  test('a kept version compares with the current file line by line, escaped', async () => {
    await saveSetting('new_QZ_date_time', '<b>%d</b>');
    await session.page.goto(statusUrl());
    await session.page.locator('table.adm-history tbody tr').first().getByRole('link', { name: /Compare/ }).click();
    const diff = session.page.locator('pre.adm-diff');
    assert.match(await diff.innerText(), /^-QZ-date-time=%m\/%d\/%Y %H:%M$/m);
    assert.match(await diff.innerText(), /^\+QZ-date-time = <b>%d<\/b>$/m);
    assert.equal(await diff.locator('b').count(), 0, 'markup in a value is shown, not applied');
    await accessible('a comparison');
    await shot('status-diff');
  });

  test('a restore puts a kept version back as a save of its own', async () => {
    await session.page.goto(statusUrl());
    const versions = session.page.locator('table.adm-history tbody tr');
    const kept = await versions.count();
    const oldest = fs.readdirSync(path.join(path.dirname(session.server.confPath), 'history', 'plomex.conf'))
      .filter((n) => n.endsWith('.version')).sort()[0];
    const [response] = await Promise.all([
      session.page.waitForNavigation(),
      versions.last().getByRole('button', { name: 'Restore this version' }).click(),
    ]);
    assert.equal(response.status(), 200);
    assert.match(await session.page.locator('main').innerText(), /Version restored/);
    assert.equal(read(session.server.confPath),
      read(path.join(path.dirname(session.server.confPath), 'history', 'plomex.conf', oldest)));
    await accessible('the answer to a restore');
    await shot('status-restored');
    await session.page.goto(statusUrl());
    assert.equal(await session.page.locator('table.adm-history tbody tr').count(), kept + 1);
    assert.match((await session.page.locator('ol.adm-log li').allInnerTexts())[0],
      new RegExp(`restored the version kept as ${oldest.replace('.version', '').replace(/\./g, '\\.')}`));
  });
});

describe('lock', () => {
  test('a stale lock is explained and removed by an administrator, logged', async () => {
    fs.writeFileSync(lockPath(), `Host=${os.hostname()}, PID=2147483646\n`);
    await session.page.goto(session.server.url);
    await session.page.fill('input[name="new_QZ_max_records"]', '650');
    const refused = await press('Save');
    assert.match(refused, /Configuration file is locked\. Please try again later\./);
    assert.match(refused, /no longer runs: the lock is stale/);
    await accessible('the refusal with a stale lock');
    await session.page.goto(statusUrl());
    assert.match(await session.page.locator('main').innerText(), /process 2147483646[\s\S]*no longer runs/);
    await accessible('the status page with a stale lock');
    await shot('status-stale-lock');
    assert.match(await press('Remove stale lock'), /Stale lock removed/);
    assert.equal(fs.existsSync(lockPath()), false);
    assert.match(read(session.server.changeLogPath), /plomex\.lock: stale lock removed \(Host=.*, PID=2147483646\)\n$/);
  });

  test('a lock whose save still runs is shown and never removed', async () => {
    fs.writeFileSync(lockPath(), `Host=${os.hostname()}, PID=${process.pid}\n`);
    await session.page.goto(statusUrl());
    assert.match(await session.page.locator('main').innerText(), /still runs on this host/);
    assert.equal(await session.page.getByRole('button', { name: 'Remove stale lock' }).count(), 0);
    await shot('status-live-lock');
    const response = await session.page.request.post(statusUrl(), {
      headers: { Origin: new URL(statusUrl()).origin },
      form: { action: 'remove-lock' },
    });
    assert.match(await response.text(), /The lock is not stale/);
    assert.equal(read(lockPath()), `Host=${os.hostname()}, PID=${process.pid}\n`);
    fs.unlinkSync(lockPath());
  });
});
