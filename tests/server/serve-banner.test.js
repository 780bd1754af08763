'use strict';
// The server script as an administrator starts it: the banner names every
// address the server answers (/admin, which leads to the first page, each
// page and each endpoint of the build's lists); each wants the login the
// banner names and answers with the pages' headers; a restart on the same
// root keeps the login and the settings; a second start on a port in use
// says so and writes nothing.

const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { startServer, serveSync, buildDir, PORT_IN_USE } = require('../browser/server');

const listed = (name) => fs.readFileSync(path.join(buildDir, name), 'utf8').split('\n').filter(Boolean);

test('the banner names every address served, each wants its login, and a restart keeps both', async (t) => {
  let server = await startServer(undefined, { quiet: false });
  t.after(() => server.close());
  // The banner is written before the server starts; its last line may still be on its way.
  while (!server.output().includes('Ctrl-C')) await new Promise((resolve) => setTimeout(resolve, 50));
  const banner = server.output();
  const named = [...banner.matchAll(/http:\/\/127\.0\.0\.1:(\d+)(\/\S*)/g)].map(([, port, address]) => {
    assert.equal(Number(port), server.port);
    return address;
  });
  const pages = listed('pages');
  assert.deepEqual(named.sort(), ['/admin', ...[...pages, ...listed('endpoints')].map((name) => `/admin/${name}`)].sort());
  assert.match(banner, new RegExp(`User name: +${server.user}\\n +Password: +${server.password}\\n`));
  const wrong = `Basic ${Buffer.from(`${server.user}:no`).toString('base64')}`;
  for (const address of named) {
    for (const headers of [{}, { Authorization: wrong }]) assert.equal((await fetch(server.pageUrl(address), { headers })).status, 401, address);
    const answer = await server.request(address);
    assert.equal(answer.status, 200, address);
    assert.equal(answer.url, server.pageUrl(address === '/admin' ? pages[0] : address));
    assert.equal(answer.headers.get('cache-control'), 'no-store', address);
    assert.equal(answer.headers.get('x-content-type-options'), 'nosniff', address);
    for (const rule of ["default-src 'none'", "frame-ancestors 'none'"]) assert.ok(answer.headers.get('content-security-policy').includes(rule), address);
  }

  fs.appendFileSync(server.confPath, 'QZ-restart-mark = kept\n');
  const { root, password } = server;
  await server.stop();
  server = await startServer(root);
  assert.equal(server.password, password);
  assert.equal(server.settings()['QZ-restart-mark'], 'kept');
  assert.equal((await server.request()).status, 200);
  const second = path.join(path.dirname(root), 'second');
  const clash = serveSync(second, server.port);
  assert.equal(clash.status, PORT_IN_USE, clash.stderr);
  assert.match(clash.stderr, new RegExp(`port ${server.port} .*already in use`));
  assert.ok(!fs.existsSync(second), 'a start on a busy port wrote a server root');
});
