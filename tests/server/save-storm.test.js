'use strict';
// Eight administrators saving at once through the real server, while a
// reader keeps reading plomex.conf: no save is lost or torn, the file is
// never seen empty or partial, and the change log has exactly one record per
// saved value.

const { after, before, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { startServer, removeRoot } = require('../browser/server');

const CLIENTS = 8;
const SAVES = Number(process.env.STORM_SAVES || 50);
const KEYS = ['QZ-max-records', 'QZ-largest-set', 'QZ-date-time', 'QZ-default-html-title',
  'QZ-collection-acl-check', 'QZ-toc-acl-check'];
const FIELDS = {
  'QZ-max-records': 'QZ_max_records',
  'QZ-largest-set': 'QZ_largest_set',
  'QZ-date-time': 'QZ_date_time',
  'QZ-default-html-title': 'QZ_default_html_title',
  'QZ-collection-acl-check': 'QZ_collection-acl-check',
  'QZ-toc-acl-check': 'QZ_toc-acl-check',
};
// Values every client submits unchanged; they pass the page's checks together
// with any value a client sets (max records 1..400, largest set 4000..4999).
const STEADY = {
  'QZ-max-records': '1',
  'QZ-largest-set': '5000',
  'QZ-date-time': 'd',
  'QZ-default-html-title': 't',
  'QZ-collection-acl-check': 'Y',
  'QZ-toc-acl-check': 'N',
};
// The field each client changes, and its i-th value; two fields have two clients.
const CLIENT_FIELDS = [
  ['QZ-max-records', (c, i) => String(1 + i)],
  ['QZ-largest-set', (c, i) => String(4000 + i)],
  ['QZ-date-time', (c, i) => `client ${c} date ${i}`],
  ['QZ-default-html-title', (c, i) => `client ${c} title ${i}`],
  ['QZ-collection-acl-check', (c, i) => (i % 2 ? 'Y' : 'N')],
  ['QZ-toc-acl-check', (c, i) => (i % 2 ? 'N' : 'Y')],
  ['QZ-date-time', (c, i) => `client ${c} date ${i}`],
  ['QZ-default-html-title', (c, i) => `client ${c} title ${i}`],
];

let server;

before(async () => {
  server = await startServer();
});

after(async () => {
  if (server) {
    await server.stop();
    removeRoot(server.root);
  }
});

function entries(text) {
  const found = {};
  for (const line of text.split('\n')) {
    const m = /^([^=#;[]+?)\s*=\s*(.*)$/.exec(line);
    if (m && !(m[1] in found)) found[m[1]] = m[2];
  }
  return found;
}

function formBody(key, value) {
  const form = new URLSearchParams();
  for (const k of KEYS) {
    form.append(`orig_${FIELDS[k]}`, k === key ? '-' : STEADY[k]);
    form.append(`new_${FIELDS[k]}`, k === key ? value : STEADY[k]);
  }
  return form.toString();
}

async function post(body) {
  const response = await fetch(server.url, {
    method: 'POST',
    headers: {
      Authorization: `Basic ${Buffer.from(`${server.user}:${server.password}`).toString('base64')}`,
      'Content-Type': 'application/x-www-form-urlencoded',
      Origin: new URL(server.url).origin,
    },
    body,
  });
  const text = await response.text();
  if (/Congratulations/.test(text)) return 'Congratulations';
  if (/No changes were made/.test(text)) return 'No changes were made';
  if (/locked/.test(text)) return 'locked';
  if (/try again/i.test(text)) return 'busy';
  return `other: ${response.status} ${text.slice(0, 200)}`;
}

test(`${CLIENTS} clients × ${SAVES} saves of different fields, and a reader`, async () => {
  // Start from values that pass the checks whatever the clients set.
  const start = fs.readFileSync(server.confPath, 'utf8')
    .replace(/^QZ-max-records=.*$/m, 'QZ-max-records=1')
    .replace(/^QZ-largest-set=.*$/m, 'QZ-largest-set=5000');
  fs.writeFileSync(server.confPath, start);
  const tail = start.trimEnd().split('\n').pop();

  let storming = true;
  const reads = { total: 0, empty: 0, missing: 0, partial: 0 };
  const reader = (async () => {
    while (storming) {
      let text;
      try {
        text = await fs.promises.readFile(server.confPath, 'utf8');
      } catch {
        reads.missing++;
        continue;
      }
      reads.total++;
      if (text === '') reads.empty++;
      else if (!text.endsWith(`${tail}\n`) || KEYS.some((k) => !(k in entries(text)))) reads.partial++;
    }
  })();

  const answers = {};
  const saved = []; // [client, key, value] in the order the answers came
  await Promise.all(CLIENT_FIELDS.map(async ([key, valueOf], client) => {
    for (let i = 0; i < SAVES; i++) {
      const value = valueOf(client, i);
      const answer = await post(formBody(key, value));
      answers[answer] = (answers[answer] || 0) + 1;
      if (answer === 'Congratulations') saved.push([client, key, value]);
    }
  }));
  storming = false;
  await reader;

  const table = { ...answers, reads: reads.total, 'empty reads': reads.empty,
    'missing reads': reads.missing, 'partial reads': reads.partial };
  console.log(`save storm: ${JSON.stringify(table)}`);
  assert.deepEqual(answers, { Congratulations: CLIENTS * SAVES });
  assert.deepEqual([reads.empty, reads.missing, reads.partial], [0, 0, 0]);
  assert.ok(reads.total > 0);

  // One record per saved value, and the file holds the last saved value of each field.
  const log = fs.readFileSync(server.changeLogPath, 'utf8').trim().split('\n');
  assert.equal(log.length, saved.length);
  const last = {};
  for (const line of log) {
    const m = / admin plomex\.conf: (\S+) set to (.*)$/.exec(line);
    assert.ok(m, `a saved record: ${line}`);
    last[m[1]] = m[2];
  }
  const counted = (list) => list.map((x) => x.join('\u0000')).sort();
  assert.deepEqual(
    counted(log.map((l) => / plomex\.conf: (\S+) set to (.*)$/.exec(l).slice(1))),
    counted(saved.map(([, key, value]) => [key, value])),
  );
  const final = entries(fs.readFileSync(server.confPath, 'utf8'));
  for (const key of KEYS) assert.equal(final[key], last[key], key);

  const dir = path.dirname(server.confPath);
  const debris = fs.readdirSync(dir).filter((n) => n.includes('.tmp-') || n === 'plomex.lock');
  assert.deepEqual(debris, []);
});
