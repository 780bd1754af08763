'use strict';
// Eight administrators saving at once through the real server, while a
// reader keeps reading plomex.conf: no save is lost or torn, the file is
// never seen empty or partial, and the change log has exactly one record per
// saved value.

const { after, before, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { useServer, formBody, pageSettings, settingValues } = require('../browser/server');

const CLIENTS = 8;
const SAVES = Number(process.env.STORM_SAVES || 50);
const SETTINGS = pageSettings();
const KEYS = SETTINGS.map((s) => s.key);

// The value of a setting of a kind in round i (steady: null), within the page's checks
// whatever the others hold: the maximum of records (row 0) never above the largest set (row 1).
function valueOf(s, row, client, i) {
  const steady = i === null;
  if (s.kind === 3) return String(row === 1 ? 4000 + (steady ? 1000 : i) : 1 + (steady ? 0 : i));
  if (s.kind === 5) return steady || i % 2 ? 'Y' : 'N';
  return steady ? 'steady' : `client ${client} value ${i}`;
}
const STEADY = Object.fromEntries(SETTINGS.map((s, row) => [s.key, valueOf(s, row, 0, null)]));

const server = useServer({ before, after });

// Posts a change of one setting, the others at their steady values; returns the kind of answer.
async function post(key, value) {
  const response = await server.postForm(formBody({ ...STEADY, [key]: '-' }, { [key]: value }));
  const text = await response.text();
  const known = ['Congratulations', 'No changes were made', 'locked', 'try again'].find((a) => text.includes(a));
  return known || `other: ${response.status} ${text.slice(0, 200)}`;
}

test(`${CLIENTS} clients × ${SAVES} saves of different fields, and a reader`, async () => {
  let start = fs.readFileSync(server.confPath, 'utf8');
  for (const key of KEYS) start = start.replace(new RegExp(`^${key}\\s*=.*$`, 'm'), `${key}=${STEADY[key]}`);
  fs.writeFileSync(server.confPath, start);
  const tail = start.trimEnd().split('\n').pop();

  let storming = true;
  const reads = { total: 0, missingEmptyOrPartial: 0 };
  const reader = (async () => {
    for (; storming; reads.total++) {
      const text = await fs.promises.readFile(server.confPath, 'utf8').catch(() => '');
      if (!text.endsWith(`${tail}\n`) || KEYS.some((k) => !(k in settingValues(text)))) reads.missingEmptyOrPartial++;
    }
  })();

  // Client c changes setting c (modulo their number): with six settings two have two clients.
  const answers = {};
  const saved = []; // "key set to value" of every save that succeeded
  await Promise.all([...Array(CLIENTS).keys()].map(async (client) => {
    const row = client % SETTINGS.length;
    for (let i = 0; i < SAVES; i++) {
      const value = valueOf(SETTINGS[row], row, client, i);
      const answer = await post(KEYS[row], value);
      answers[answer] = (answers[answer] || 0) + 1;
      if (answer === 'Congratulations') saved.push(`${KEYS[row]} set to ${value}`);
    }
  }));
  storming = false;
  await reader;
  console.log(`save storm: ${JSON.stringify({ ...answers, reads })}`);
  assert.deepEqual(answers, { Congratulations: CLIENTS * SAVES });
  assert.equal(reads.missingEmptyOrPartial, 0);
  assert.ok(reads.total > 0);

  // One record per saved value, and the file holds the last recorded value of each setting.
  const records = server.changeLog().map((line) => line.replace(/^.* admin plomex\.conf: /, ''));
  assert.deepEqual([...records].sort(), [...saved].sort());
  const last = Object.fromEntries(records.map((r) => r.split(' set to ')));
  const values = server.settings();
  assert.deepEqual(Object.fromEntries(KEYS.map((k) => [k, values[k]])), last);
  const debris = fs.readdirSync(path.dirname(server.confPath)).filter((n) => n.includes('.tmp-') || n === 'plomex.lock');
  assert.deepEqual(debris, []);
});
