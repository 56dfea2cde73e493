// WebSocket peer for the BWSocket tests and benchmarks.
//
//   node server.js [--tls CERT KEY]
// Listens on a free 127.0.0.1 port and prints "listening <port>". Each
// connection's path picks its behaviour:
//   /echo              every message back as it came (text as text)
//   /headers           one text message: the request headers as JSON
//   /protocol?pick=P   accepts subprotocol P (even one not offered); then echoes
//   /fragments         a text message in three frames with a ping between them
//   /close?code=C&reason=R   closes with that code and reason
//   /ping?data=D       pings with payload D
//   /big?size=N        one binary message of N bytes (byte i = i % 251)
//   /raw?hex=H         writes the bytes H to the socket as they are (crafted
//                      frames) in one write; logs "message <kind> <text>" for
//                      each message the client sends back
//   /cut               ends the TCP connection without a close frame
//   /silent            accepts and never sends anything (not even a close answer)
//   /bad?kind=K        answers the upgrade itself, wrongly: accept, noupgrade,
//                      status200, status403, bighead, never, garbage
// What the client sends back is logged: "close <code> <reason>" when its
// close frame arrives, "pong <data>", "message <kind> <length>".
'use strict';
const http = require('http');
const https = require('https');
const fs = require('fs');
const crypto = require('crypto');
const { WebSocketServer } = require('ws');

const args = process.argv.slice(2);
let server;
if (args[0] === '--tls') {
  server = https.createServer({ cert: fs.readFileSync(args[1]), key: fs.readFileSync(args[2]) });
} else {
  server = http.createServer();
}

function log(line) { process.stdout.write(line + '\n'); }

const wss = new WebSocketServer({
  noServer: true,
  perMessageDeflate: false,
  maxPayload: 512 * 1024 * 1024,
  handleProtocols: (protocols, request) => {
    const url = new URL(request.url, 'http://x');
    const pick = url.searchParams.get('pick');
    if (pick) return pick;
    return protocols.has('mqtt') ? 'mqtt' : false;
  },
});

function acceptKey(key) {
  return crypto.createHash('sha1').update(key + '258EAFA5-E914-47DA-95CA-C5AB0DC85B11').digest('base64');
}

function badUpgrade(kind, request, socket) {
  const key = request.headers['sec-websocket-key'] || '';
  const good = acceptKey(key);
  const heads = {
    accept: 'HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: ' +
      good.toLowerCase() + '\r\n\r\n',
    noupgrade: 'HTTP/1.1 101 Switching Protocols\r\nSec-WebSocket-Accept: ' + good + '\r\n\r\n',
    status200: 'HTTP/1.1 200 OK\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: ' + good +
      '\r\nContent-Length: 0\r\n\r\n',
    status403: 'HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n',
    bighead: 'HTTP/1.1 101 Switching Protocols\r\n' + 'X-Filler: ' + 'a'.repeat(20000) + '\r\n\r\n',
    garbage: 'SSH-2.0-OpenSSH\r\n\r\n',
  };
  if (kind === 'never') return;  // keeps the socket open and silent
  socket.write(heads[kind] || heads.garbage);
}

server.on('upgrade', (request, socket, head) => {
  const url = new URL(request.url, 'http://x');
  if (url.pathname === '/bad') return badUpgrade(url.searchParams.get('kind'), request, socket);
  wss.handleUpgrade(request, socket, head, (ws) => session(ws, request, url));
});

function session(ws, request, url) {
  ws.on('close', (code, reason) => log('close ' + code + ' ' + reason.toString()));
  ws.on('pong', (data) => log('pong ' + data.toString()));
  const echo = () => ws.on('message', (data, isBinary) => {
    log('message ' + (isBinary ? 'binary' : 'text') + ' ' + data.length);
    ws.send(data, { binary: isBinary });
  });
  const q = url.searchParams;
  switch (url.pathname) {
    case '/echo':
    case '/protocol':
      echo();
      break;
    case '/headers':
      ws.send(JSON.stringify(request.headers));
      break;
    case '/fragments':
      ws.send('Hello, ', { fin: false, binary: false });
      ws.ping('between');
      ws.send('wörld', { fin: false, binary: false });
      ws.send('!', { fin: true, binary: false });
      echo();
      break;
    case '/close':
      ws.close(Number(q.get('code')), q.get('reason') || '');
      break;
    case '/ping':
      ws.ping(q.get('data') || '');
      echo();
      break;
    case '/big': {
      const n = Number(q.get('size'));
      const data = Buffer.alloc(n);
      for (let i = 0; i < n; i++) data[i] = i % 251;
      ws.send(data, { binary: true });
      echo();
      break;
    }
    case '/raw':
      ws.on('message', (data, isBinary) => log('message ' + (isBinary ? 'binary' : 'text') + ' ' + data.toString()));
      ws._socket.write(Buffer.from(q.get('hex'), 'hex'));
      break;
    case '/cut':
      ws._socket.end();
      break;
    case '/silent':
      ws._socket.pause();
      break;
    default:
      ws.close(4404, 'no such path');
  }
}

server.listen(0, '127.0.0.1', () => log('listening ' + server.address().port));
