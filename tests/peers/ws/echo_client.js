// Echo load from Node's own `ws` client, the yardstick of bench/bwsocket_echo.
//   node echo_client.js URL COUNT SIZE binary|text WINDOW
// Sends COUNT messages of SIZE bytes, at most WINDOW unanswered, waits for
// every echo and prints "seconds <s>".
'use strict';
const WebSocket = require('ws');
const [url, count, size, kind, window] = process.argv.slice(2);
const total = Number(count);
const payload = kind === 'text' ? 'x'.repeat(Number(size)) : Buffer.alloc(Number(size), 7);
const ws = new WebSocket(url, { perMessageDeflate: false, maxPayload: 512 * 1024 * 1024 });
let sent = 0, received = 0, start;
function fill() {
  while (sent < total && sent - received < Number(window)) {
    ws.send(payload, { binary: kind !== 'text' });
    sent++;
  }
}
ws.on('open', () => { start = process.hrtime.bigint(); fill(); });
ws.on('message', () => {
  received++;
  if (received === total) {
    const seconds = Number(process.hrtime.bigint() - start) / 1e9;
    process.stdout.write('seconds ' + seconds + '\n');
    ws.close();
  } else {
    fill();
  }
});
ws.on('error', (e) => { process.stderr.write(String(e) + '\n'); process.exit(1); });
