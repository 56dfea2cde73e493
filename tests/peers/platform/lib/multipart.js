'use strict';
// A small multipart/form-data reader: enough for the OCR upload (text fields
// and file parts), strict about framing so a malformed body is reported.

function boundaryOf(contentType) {
  const m = /^multipart\/form-data\s*;(.*)$/i.exec(contentType || '');
  if (!m) return null;
  const b = /(?:^|;)\s*boundary=(?:"([^"]+)"|([^;\s]+))/i.exec(m[1]);
  return b ? (b[1] || b[2]) : null;
}

function parseHeaders(text) {
  const headers = {};
  for (const line of text.split('\r\n')) {
    const i = line.indexOf(':');
    if (i > 0) headers[line.slice(0, i).trim().toLowerCase()] = line.slice(i + 1).trim();
  }
  return headers;
}

function dispositionParams(value) {
  const out = {};
  const re = /;\s*([A-Za-z0-9_*-]+)="((?:[^"\\]|\\.)*)"|;\s*([A-Za-z0-9_*-]+)=([^;]*)/g;
  let m;
  while ((m = re.exec(value || '')) !== null) {
    if (m[1]) out[m[1].toLowerCase()] = m[2].replace(/\\(.)/g, '$1');
    else out[m[3].toLowerCase()] = m[4].trim();
  }
  return out;
}

// Returns { parts: [{ name, filename, contentType, headers, data }] } or
// { error } when the body does not follow the framing.
function parseMultipart(body, contentType) {
  const boundary = boundaryOf(contentType);
  if (!boundary) return { error: 'multipart/form-data with a boundary expected' };
  const delim = Buffer.from(`--${boundary}`);
  const parts = [];
  let pos = body.indexOf(delim);
  if (pos < 0) return { error: 'no boundary in body' };
  for (;;) {
    pos += delim.length;
    if (body.subarray(pos, pos + 2).toString() === '--') return { parts };
    if (body.subarray(pos, pos + 2).toString() !== '\r\n') return { error: 'bad boundary line' };
    pos += 2;
    const headEnd = body.indexOf('\r\n\r\n', pos);
    if (headEnd < 0) return { error: 'part headers not terminated' };
    const headers = parseHeaders(body.subarray(pos, headEnd).toString('utf8'));
    const dataStart = headEnd + 4;
    const next = body.indexOf(Buffer.concat([Buffer.from('\r\n'), delim]), dataStart);
    if (next < 0) return { error: 'part not terminated' };
    const disp = headers['content-disposition'] || '';
    if (!/^form-data\b/i.test(disp)) return { error: 'part without form-data disposition' };
    const dp = dispositionParams(disp.replace(/^form-data/i, ''));
    parts.push({
      name: dp.name,
      filename: dp.filename,
      contentType: headers['content-type'],
      headers,
      data: body.subarray(dataStart, next),
    });
    pos = next + 2;
  }
}

module.exports = { parseMultipart, boundaryOf };
