'use strict';
// Eight administrators saving at once through the real server, while a
// reader keeps reading plomex.conf: no save is lost or torn, the file is
// never seen empty or partial, and the change log has exactly one record per
// saved value.

const { after, before, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const {
  startServer, removeRoot, pageSettings, settingValues,
} = require('../browser/server');

const CLIENTS = 8;
const SAVES = Number(process.env.STORM_SAVES || 50);
const SETTINGS = pageSettings();
const KEYS = SETTINGS.map((s) => s.key);

// The value every client submits for a setting it does not change, and its
// client's i-th value for the one it does, by the setting's kind. The page's
// checks read rows 0 (maximum records) and 1 (largest set): steady values
// and changing ones must pass them together.
function steadyValue(s, row) {
  if (s.kind === 3) return row === 1 ? '5000' : '1';
  if (s.kind === 4) return 'on';
  if (s.kind === 5) return 'Y';
  return 'steady';
}
function valueOf(s, row, client, i) {
  if (s.kind === 3) return String(row === 1 ? 4000 + i : 1 + i);
  if (s.kind === 4) return i % 2 ? 'on' : 'off';
  if (s.kind === 5) return i % 2 ? 'Y' : 'N';
  return `client ${client} value ${i}`;
}
const STEADY = Object.fromEntries(SETTINGS.map((s, row) => [s.key, steadyValue(s, row)]));
// Client c changes setting c (modulo their number): with six settings two have two clients.
const CLIENT_FIELDS = [...Array(CLIENTS).keys()].map((c) => {
  const row = c % SETTINGS.length;
  return [SETTINGS[row].key, (client, i) => valueOf(SETTINGS[row], row, client, i)];
});

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

const entries = settingValues;

function formBody(key, value) {
  const form = new URLSearchParams();
  for (const s of SETTINGS) {
    form.append(s.origField, s.key === key ? '-' : STEADY[s.key]);
    form.append(s.newField, s.key === key ? value : STEADY[s.key]);
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
  // Start from the steady values, which pass the checks whatever the clients set.
  let start = fs.readFileSync(server.confPath, 'utf8');
  for (const key of KEYS) {
    start = start.replace(new RegExp(`^${key}\\s*=.*$`, 'm'), `${key}=${STEADY[key]}`);
  }
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
