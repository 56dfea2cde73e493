#!/usr/bin/env node
// Plain HTTP server for the session-manager tests: answers that the shared
// HTTPS peer does not give.
//
//   node server.js [--port 0]
//
// Prints "listening <port>" once it accepts connections. Endpoints:
//   /raw                   the request body back as application/octet-stream,
//                          with the request's Content-Type in X-Request-Content-Type
//   /json-status/<n>       status n with the JSON body {"status": n}
const http = require('http');

const args = process.argv.slice(2);
const i = args.indexOf('--port');
const port = i >= 0 ? Number(args[i + 1]) : 0;

const server = http.createServer((req, res) => {
  const chunks = [];
  req.on('data', (c) => chunks.push(c));
  req.on('error', () => {});
  req.on('end', () => {
    const parts = new URL(req.url, 'http://x').pathname.split('/').filter(Boolean);
    if (parts[0] === 'raw') {
      const body = Buffer.concat(chunks);
      res.writeHead(200, { 'Content-Type': 'application/octet-stream', 'Content-Length': String(body.length),
                           'X-Request-Content-Type': req.headers['content-type'] || '' });
      return res.end(body);
    }
    if (parts[0] === 'json-status') {
      const code = Number(parts[1]);
      const text = JSON.stringify({ status: code });
      res.writeHead(code, { 'Content-Type': 'application/json', 'Content-Length': String(text.length) });
      return res.end(text);
    }
    res.writeHead(404, { 'Content-Length': '9' });
    res.end('not found');
  });
});
server.listen(port, '127.0.0.1', () => process.stdout.write('listening ' + server.address().port + '\n'));
process.on('SIGTERM', () => process.exit(0));
