#!/usr/bin/env node
'use strict';
// Local stand-in for the object-storage service, its authorisation server and
// the test's knobs. Loopback only. Usage, endpoints and wire choices: README.md.

const fs = require('fs');
const http = require('http');
const https = require('https');
const os = require('os');
const path = require('path');
const { World } = require('./lib/world');
const { handleService, sendError, ServiceError, drain } = require('./lib/service');
const { handleAdmin, handleAuth } = require('./lib/admin');

const DEFAULTS = {
  port: 0, httpsPort: 0, cert: null, key: null, dir: null, domain: 'test.hos.halvane.com',
  accessKeyId: 'HOSTESTACCESSKEY0001', accessKeySecret: 'hos-test-secret-4b7e1c9a2d',
};
const FLAGS = {
  '--port': 'port', '--https-port': 'httpsPort', '--cert': 'cert', '--key': 'key', '--dir': 'dir',
  '--domain': 'domain', '--access-key-id': 'accessKeyId', '--access-key-secret': 'accessKeySecret', '--bucket': 'bucket',
};

function usage(msg) {
  process.stderr.write(`${msg}\nusage: node server.js [--port N] [--cert pem --key pem [--https-port N]] [--dir d] ` +
    '[--domain d] [--access-key-id id --access-key-secret s] [--bucket name]...\n');
  process.exit(2);
}

function parseArgs(argv) {
  const s = { ...DEFAULTS, buckets: [] };
  for (let i = 0; i < argv.length; i++) {
    const name = FLAGS[argv[i]];
    if (!name) usage(`unknown argument ${argv[i]}`);
    if (i + 1 >= argv.length) usage(`${argv[i]} needs a value`);
    const v = argv[++i];
    if (name === 'bucket') s.buckets.push(v);
    else if (name === 'port' || name === 'httpsPort') {
      if (!/^\d+$/.test(v)) usage(`${argv[i - 1]} needs a number`);
      s[name] = Number(v);
    } else s[name] = v;
  }
  if (!!s.cert !== !!s.key) usage('--cert and --key go together');
  return s;
}

function handler(world) {
  return (req, res) => {
    const ctx = { world, req, res, requestId: world.requestId(), started: Date.now(), bytesOut: 0 };
    const entry = { id: world.nextRequest++, time: new Date().toISOString(), method: req.method, url: req.url,
      host: req.headers.host, headers: req.rawHeaders.slice(), scheme: req.socket.encrypted ? 'https' : 'http' };
    const pathname = req.url.split('?')[0];
    const isAdmin = pathname.startsWith('/__admin/');
    let logged = false;
    const finish = () => {
      if (logged) return;
      logged = true;
      Object.assign(entry, { requestId: ctx.requestId, op: ctx.op, bucket: ctx.bucket, key: ctx.key,
        status: ctx.status === undefined ? res.statusCode : ctx.status, errorCode: ctx.errorCode, bytesIn: req.bytesIn || 0,
        bytesOut: ctx.bytesOut, stringToSign: ctx.stringToSign, accessKeyId: ctx.accessKeyId,
        fault: ctx.fault ? ctx.fault.id : undefined, ms: Date.now() - ctx.started });
      if (!isAdmin) world.record(entry);
    };
    res.on('finish', finish);
    res.on('close', finish);
    let work;
    if (isAdmin) {
      work = handleAdmin(world, req, res);
    } else if (pathname === '/__auth/credentials') {
      work = handleAuth(world, req, res, ctx);
    } else {
      work = handleService(world, req, res, ctx);
    }
    work.catch((e) => {
      drain(req);
      if (res.headersSent) { res.destroy(); return; }
      if (!(e instanceof ServiceError)) {
        process.stderr.write(`hos stand-in: ${e.stack || e}\n`);
        e = new ServiceError(500, 'InternalError', String(e.message || e));
      }
      sendError(ctx, e).catch(() => res.destroy());
    });
  };
}

function listen(server, port) {
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', () => resolve(server.address().port));
  });
}

async function main() {
  const opts = parseArgs(process.argv.slice(2));
  const madeDir = !opts.dir;
  const dir = opts.dir || fs.mkdtempSync(path.join(os.tmpdir(), 'hos-standin-'));
  const world = new World({ dir, domain: opts.domain, accessKeyId: opts.accessKeyId, accessKeySecret: opts.accessKeySecret });
  for (const b of opts.buckets) world.createBucket(b);
  const h = handler(world);
  const servers = [http.createServer({ requestTimeout: 0 }, h)];
  if (opts.cert) {
    servers.push(https.createServer({ cert: fs.readFileSync(opts.cert), key: fs.readFileSync(opts.key), requestTimeout: 0 }, h));
  }
  const ports = [];
  for (const [i, s] of servers.entries()) ports.push(await listen(s, i === 0 ? opts.port : opts.httpsPort));
  const stop = () => {
    for (const s of servers) { s.close(); s.closeAllConnections(); }
    if (madeDir) fs.rmSync(dir, { recursive: true, force: true });
    process.exit(0);
  };
  process.on('SIGTERM', stop);
  process.on('SIGINT', stop);
  process.stdout.write(JSON.stringify({ http: ports[0], https: ports[1] || null, pid: process.pid, dir, domain: world.domain,
    accessKeyId: opts.accessKeyId, accessKeySecret: opts.accessKeySecret }) + '\n');
}

main().catch((e) => {
  process.stderr.write(`hos stand-in: ${e.stack || e}\n`);
  process.exit(1);
});
