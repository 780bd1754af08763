'use strict';
// The search settings page as an administrator uses it: Debian's chromium
// against lighttpd running the page as a CGI program, on a server root of
// the test's own made from the sample plomex.conf.

const { after, before, describe, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const {
  startServer, useSession, pageSettings, settingValues, screenshotDir, buildDir, repo,
  PORT_IN_USE,
} = require('./server');
const { violations } = require('./axe');

const SETTINGS = pageSettings();
const TEXT_SETTINGS = SETTINGS.filter((s) => s.type === 'text');
const RADIO_SETTINGS = SETTINGS.filter((s) => s.type === 'radio');

const session = useSession({ before, after });

const read = (file) => (fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : null);

async function openForm() {
  const response = await session.page.goto(session.server.url);
  assert.equal(response.status(), 200);
  return response;
}

// Clicks the form's submit button and waits for the answer page.
async function save() {
  const [response] = await Promise.all([
    session.page.waitForNavigation(),
    session.page.locator('form [type=submit]').first().click(),
  ]);
  assert.equal(response.request().method(), 'POST');
  assert.equal(response.status(), 200, `answer: ${await session.page.content()}`);
  return session.page.locator('body').innerText();
}

// The value each setting shows, by key.
async function formValues() {
  const values = {};
  for (const s of TEXT_SETTINGS) {
    values[s.key] = await session.page.locator(`input[name="${s.newField}"]`).inputValue();
  }
  for (const s of RADIO_SETTINGS) {
    values[s.key] = await session.page.locator(`input[name="${s.newField}"]:checked`).getAttribute('value');
  }
  return values;
}

describe('administration server', () => {
  test('refuses requests without a valid login, with the page headers set', async () => {
    const anonymous = await fetch(session.server.url);
    assert.equal(anonymous.status, 401);
    assert.match(anonymous.headers.get('www-authenticate'), /^Basic /);

    const wrong = await fetch(session.server.url, {
      headers: { Authorization: `Basic ${Buffer.from(`${session.server.user}:not-it`).toString('base64')}` },
    });
    assert.equal(wrong.status, 401);

    const response = await openForm();
    const headers = await response.allHeaders();
    assert.equal(headers['cache-control'], 'no-store');
    assert.equal(headers['x-content-type-options'], 'nosniff');
    assert.match(headers['content-security-policy'], /frame-ancestors 'none'/);
    assert.match(headers['content-security-policy'], /default-src 'none'/);
  });

  test('refuses a request body over 64 KiB before the page sees it', async () => {
    const unchanged = read(session.server.confPath);
    const body = `new_QZ_max_records=${'9'.repeat(70 * 1024)}`;
    const response = await session.page.request.post(session.server.url, {
      headers: { 'Content-Type': 'application/x-www-form-urlencoded', Origin: new URL(session.server.url).origin },
      data: body,
    });
    assert.equal(response.status(), 413);
    assert.equal(read(session.server.confPath), unchanged);
  });
});

describe('the page\'s own error pages reach the browser', () => {
  test('a form sent from another site is refused by the page, nothing saved', async () => {
    const unchanged = read(session.server.confPath);
    const response = await session.page.request.post(session.server.url, {
      headers: { Origin: 'http://elsewhere.example' },
      form: { orig_QZ_max_records: '500', new_QZ_max_records: '600' },
    });
    assert.equal(response.status(), 200);
    assert.match(response.headers()['content-type'], /^text\/html/i);
    const html = await response.text();
    assert.match(html, /<body[\s>]/);
    assert.doesNotMatch(html, /Congratulations|<form/);
    assert.equal(read(session.server.confPath), unchanged);
  });
});

describe('search settings page', () => {
  test('shows every setting of plomex.conf', async () => {
    await openForm();
    const inFile = settingValues(read(session.server.confPath));
    const expected = Object.fromEntries(SETTINGS.map((s) => [s.key, inFile[s.key]]));
    assert.deepEqual(await formValues(), expected);
    assert.equal(await session.page.locator('input[name="orig_QZ_max_records"]').inputValue(), '500');
    // Every text field has a visible label.
    for (const s of TEXT_SETTINGS) {
      const id = await session.page.locator(`input[name="${s.newField}"]`).getAttribute('id');
      assert.ok(id, `${s.newField} has an id`);
      assert.equal(await session.page.locator(`label[for="${id}"]`).count(), 1, `${s.newField} has a label`);
    }
    await session.page.screenshot({ path: path.join(screenshotDir, 'search-settings-form.png'), fullPage: true });
  });

  test('refuses a maximum of 0 with the Max Records error and changes nothing', async () => {
    const conf = read(session.server.confPath);
    const log = read(session.server.changeLogPath);
    await openForm();
    await session.page.fill('input[name="new_QZ_max_records"]', '0');
    const text = await save();
    assert.match(text, /Max Records/);
    assert.match(text, /Value must be greater than 0/);
    assert.doesNotMatch(text, /Congratulations/);
    assert.equal(read(session.server.confPath), conf);
    assert.equal(read(session.server.changeLogPath), log);
    assert.deepEqual(await violations(session.page), [], 'axe on an error page');
    await session.page.screenshot({ path: path.join(screenshotDir, 'search-settings-error.png'), fullPage: true });
  });

  test('saves a changed maximum and title to plomex.conf, its backup and the change log', async () => {
    const old = read(session.server.confPath);
    const logBefore = read(session.server.changeLogPath) || '';
    await openForm();
    await session.page.fill('input[name="new_QZ_max_records"]', '800');
    await session.page.fill('input[name="new_QZ_default_html_title"]', 'Recent documents');
    const text = await save();
    assert.match(text, /Congratulations/);
    await session.page.screenshot({ path: path.join(screenshotDir, 'search-settings-saved.png'), fullPage: true });

    await openForm();
    const values = await formValues();
    assert.equal(values['QZ-max-records'], '800');
    assert.equal(values['QZ-default-html-title'], 'Recent documents');
    assert.equal(values['QZ-largest-set'], '1000');

    // Exactly the two saved lines differ; the previous version is the backup.
    const expected = old
      .replace(/^QZ-max-records=500$/m, 'QZ-max-records = 800')
      .replace(/^QZ-default-html-title=Search Results$/m, 'QZ-default-html-title = Recent documents');
    assert.notEqual(expected, old);
    assert.equal(read(session.server.confPath), expected);
    assert.equal(read(`${session.server.confPath}.backup`), old);

    const added = read(session.server.changeLogPath).slice(logBefore.length).trim().split('\n');
    assert.equal(added.length, 2, added.join('\n'));
    assert.match(added[0], /\badmin\b.*QZ-max-records set to 800/);
    assert.match(added[1], /\badmin\b.*QZ-default-html-title set to Recent documents/);
  });

  test('shows a title holding markup as text and never runs it', async () => {
    const title = '"><script>window.__x=1</script>';
    await openForm();
    await session.page.fill('input[name="new_QZ_default_html_title"]', title);
    assert.match(await save(), /Congratulations/);
    assert.equal(await session.page.evaluate(() => window.__x), undefined);

    await openForm();
    assert.equal(await session.page.locator('input[name="new_QZ_default_html_title"]').inputValue(), title);
    assert.equal(await session.page.locator('input[name="orig_QZ_default_html_title"]').inputValue(), title);
    assert.equal(await session.page.evaluate(() => window.__x), undefined);
    const injected = await session.page.evaluate(
      () => [...document.scripts].filter((s) => s.textContent.includes('__x')).length,
    );
    assert.equal(injected, 0, 'no script element made from the title');
    assert.match(read(session.server.confPath), /^QZ-default-html-title = "><script>window.__x=1<\/script>$/m);
  });
});

describe('server root', () => {
  test('a restart keeps the saved settings and the login; a second server on its port says so', async () => {
    const { root, password } = session.server;
    await session.server.stop();
    session.server = await startServer(root);
    assert.equal(session.server.password, password);
    await openForm();
    assert.equal(await session.page.locator('input[name="new_QZ_max_records"]').inputValue(), '800');

    const clash = spawnSync(
      path.join(repo, 'scripts', 'serve.sh'),
      ['--root', root, '--port', String(session.server.port), '--build', buildDir, '--quiet'],
      { encoding: 'utf8', timeout: 20000 },
    );
    assert.equal(clash.status, PORT_IN_USE, clash.stderr);
    assert.match(clash.stderr, new RegExp(`port ${session.server.port} .*already in use`));
  });
});
