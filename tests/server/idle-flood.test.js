'use strict';
// More connections than the server's limit, held open by someone without a
// login (the server listens on loopback, so any local account can), must not
// keep an administrator out: each kind of idle connection is closed soon
// enough for a login made behind the flood to be answered.

const { after, before, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const net = require('node:net');
const path = require('node:path');
const { useServer } = require('../browser/server');

// The login's hang detector: far above the few seconds the idle limits allow.
const HANG_MS = 15000;

const server = useServer({ before, after });
const limit = () => Number(/^server\.max-connections = (\d+)$/m
  .exec(fs.readFileSync(path.join(server.root, 'admin', 'run', 'lighttpd.conf'), 'utf8'))[1]);

// Opens count connections that each send what (maybe nothing) and then stay idle.
async function flood(count, what) {
  const sockets = Array.from({ length: count }, () => net.connect(server.port, '127.0.0.1'));
  await Promise.all(sockets.map((socket) => new Promise((resolve, reject) => {
    socket.once('connect', () => resolve(what && socket.write(what))).once('error', reject);
    socket.once('close', resolve); // closed by the server's idle limit
  })));
  for (const socket of sockets) socket.removeAllListeners('error').on('error', () => {});
  return sockets;
}

// A logged-in GET of the page on a connection of its own (no fetch pool); resolves to status and body.
const login = () => new Promise((resolve, reject) => {
  const options = { agent: false, headers: { Authorization: server.auth }, signal: AbortSignal.timeout(HANG_MS) };
  http.get(server.url, options, (response) => {
    let body = '';
    response.setEncoding('utf8').on('data', (d) => { body += d; }).on('end', () => resolve({ status: response.statusCode, body }));
  }).on('error', reject);
});

test('a login is answered behind more idle connections of each kind than the limit', async () => {
  for (const [name, what] of [
    ['connections that send nothing', ''],
    ['connections that send part of a request line', 'GET /admin/vyxcfgsrch HTTP/1.1\r\n'],
    ['connections left open after an answer without a login', 'GET /admin/vyxcfgsrch HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n'],
  ]) {
    const sockets = await flood(limit() + 64, what);
    const answer = await login().finally(() => sockets.forEach((socket) => socket.destroy()));
    assert.equal(answer.status, 200, name);
    assert.match(answer.body, /name="new_QZ_max_records"/, name);
  }
});
