'use strict';
// The banner the server script prints at start names every address the
// server answers: /admin, which leads to the first page, each page and each
// endpoint of the build's lists; each answers the login the banner names.

const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { startServer, removeRoot, buildDir } = require('../browser/server');

const listed = (name) => fs.readFileSync(path.join(buildDir, name), 'utf8').split('\n').filter(Boolean);

test('the banner names every address served, and each answers with the login it names', async (t) => {
  const server = await startServer(undefined, { quiet: false });
  t.after(async () => { await server.stop(); removeRoot(server.root); });
  // The banner is written before the server starts; its last line may still be on its way.
  while (!server.output().includes('Ctrl-C')) await new Promise((resolve) => setTimeout(resolve, 50));
  const banner = server.output();
  const origin = `http://127.0.0.1:${server.port}`;
  const named = [...banner.matchAll(/http:\/\/127\.0\.0\.1:(\d+)(\/\S*)/g)].map(([, port, address]) => {
    assert.equal(Number(port), server.port);
    return address;
  });
  const pages = listed('pages');
  assert.deepEqual(named.sort(), ['/admin', ...[...pages, ...listed('endpoints')].map((name) => `/admin/${name}`)].sort());
  assert.match(banner, new RegExp(`User name: +${server.user}\\n +Password: +${server.password}\\n`));
  const login = { Authorization: `Basic ${Buffer.from(`${server.user}:${server.password}`).toString('base64')}` };
  for (const address of named) {
    const answer = await fetch(origin + address, { headers: login });
    assert.equal(answer.status, 200, address);
    assert.equal(answer.url, origin + (address === '/admin' ? `/admin/${pages[0]}` : address));
  }
});
