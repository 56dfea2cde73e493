'use strict';
// The test-only admin endpoints under /__admin/: request log, world, forced
// answers, token expiry, plain switch, MQTT publishing and the OCR script.

const crypto = require('crypto');
const { execFile } = require('child_process');
const W = require('./world');
const { resetState } = require('./platform');

function send(res, status, obj) {
  const body = Buffer.from(JSON.stringify(obj === undefined ? {} : obj), 'utf8');
  res.writeHead(status, { 'Content-Type': 'application/json; charset=utf-8', 'Content-Length': body.length });
  res.end(body);
}

function parseJson(buf) {
  if (buf.length === 0) return {};
  return JSON.parse(buf.toString('utf8'));
}

// Merges b over a; a null value in b removes the key.
function overlay(a, b) {
  const out = Object.assign({}, a);
  for (const [k, v] of Object.entries(b || {})) {
    if (v === null) delete out[k];
    else out[k] = v;
  }
  return out;
}

function disturbedSips(w, room) {
  const on = (x) => x && x.app_status === '1';
  return on(w.disturb) || on(room && room.disturb) ? [w.user.sip_no] : [];
}

function buildMessage(state, b) {
  const w = state.world;
  const roomId = String(b.room_id !== undefined ? b.room_id : w.user.rooms[0]);
  const room = W.roomById(w, roomId);
  const topic = b.topic || W.topicOf(roomId);
  if (b.payload !== undefined) {
    return { topic, payload: typeof b.payload === 'string' ? b.payload : JSON.stringify(b.payload) };
  }
  const cmd = b.cmd;
  const nowSec = Math.floor(Date.now() / 1000);
  let msg;
  if (cmd === 'makeCall') {
    const doors = room ? W.doorsOfRoom(w, room) : w.doors;
    const door = (b.door_id !== undefined && w.doors.find((d) => d.door_id === String(b.door_id))) || doors[0] || w.doors[0];
    const tx = b.transactionID !== undefined ? b.transactionID : `tx-door-${crypto.randomBytes(6).toString('hex')}`;
    msg = {
      cmd, transactionID: tx, expiredAt: b.expiredAt !== undefined ? b.expiredAt : nowSec + 30,
      data: overlay({
        incomingType: 1, doorSipNO: door.door_sip_no, doorName: door.door_name, doorGuid: door.door_guid,
        doorID: door.door_id, appRoomID: roomId, disturbSip: disturbedSips(w, room),
      }, b.data),
    };
    state.lastTransactionID = tx;
  } else if (cmd === 'hangUpCall') {
    msg = {
      cmd, transactionID: b.transactionID !== undefined ? b.transactionID : state.lastTransactionID || '',
      data: overlay({ toSipNO: b.toSipNO !== undefined ? b.toSipNO : '' }, b.data),
    };
  } else if (cmd === 'notice') {
    msg = {
      cmd, transactionID: b.transactionID !== undefined ? b.transactionID : '',
      data: overlay({
        type: 'room_id', object_id: roomId, adduser: '物业服务中心', content: '今晚20:00进行消防演练。',
        notice_id: '9101', time: W.stamp(new Date()), title: '消防演练通知', urgent: '1',
      }, b.data),
    };
  } else if (cmd === 'auth_expires') {
    msg = {
      cmd, transactionID: b.transactionID !== undefined ? b.transactionID : '',
      data: overlay({ title: '授权变更', content: '您的房间授权已变更', room_id: roomId, type: 'add' }, b.data),
    };
  } else {
    msg = { cmd, transactionID: b.transactionID !== undefined ? b.transactionID : '', data: b.data || {} };
  }
  for (const k of b.omit || []) delete msg[k];
  return { topic, payload: JSON.stringify(msg), message: msg };
}

function publish(state, b, res) {
  const s = state.settings;
  if (!s.brokerPort) return send(res, 409, { error: 'no --broker-port given' });
  if (b.cmd === undefined && b.payload === undefined) return send(res, 400, { error: 'cmd or payload required' });
  const m = buildMessage(state, b);
  const args = ['-h', '127.0.0.1', '-p', String(s.brokerPort), '-t', m.topic, '-m', m.payload, '-q', String(b.qos || 0)];
  if (b.retain) args.push('-r');
  execFile(s.mosquittoPub, args, { timeout: 10000 }, (err, stdout, stderr) => {
    if (err) return send(res, 502, { error: `mosquitto_pub failed: ${String(stderr || err.message).trim()}`, topic: m.topic, payload: m.payload });
    return send(res, 200, { topic: m.topic, payload: m.payload, transactionID: m.message ? m.message.transactionID : undefined });
  });
}

function settingsView(s) {
  return Object.assign({}, s);
}

function handleAdmin(state, req, res, url, bodyBuf) {
  const method = req.method.toUpperCase();
  const what = url.pathname.slice('/__admin/'.length);
  let b;
  try { b = parseJson(bodyBuf); } catch (e) { return send(res, 400, { error: `bad JSON: ${e.message}` }); }

  if (what === 'requests' && method === 'GET') {
    const path = url.searchParams.get('path');
    const n = parseInt(url.searchParams.get('n') || '50', 10);
    const list = state.log.filter((e) => !path || e.path === path);
    return send(res, 200, n > 0 ? list.slice(-n) : list);
  }
  if (what === 'requests' && method === 'DELETE') { state.log = []; return send(res, 200, {}); }
  if (what === 'world' && method === 'GET') return send(res, 200, state.world);
  if (what === 'world' && method === 'POST') {
    for (const [k, v] of Object.entries(b)) {
      state.world[k] = v && typeof v === 'object' && !Array.isArray(v) && state.world[k] && typeof state.world[k] === 'object' &&
        !Array.isArray(state.world[k]) ? Object.assign({}, state.world[k], v) : v;
    }
    return send(res, 200, state.world);
  }
  if (what === 'reset' && method === 'POST') { resetState(state); return send(res, 200, {}); }
  if (what === 'rules' && method === 'GET') return send(res, 200, state.rules);
  if (what === 'rules' && method === 'DELETE') { state.rules = []; return send(res, 200, {}); }
  if (what === 'rules' && method === 'POST') {
    const list = Array.isArray(b) ? b : [b];
    const ids = list.map((r) => {
      const rule = Object.assign({}, r, { id: state.nextRuleId++ });
      rule.times = r.times === undefined ? 1 : r.times;
      state.rules.push(rule);
      return rule.id;
    });
    return send(res, 200, { ids });
  }
  if (what === 'token' && method === 'GET') return send(res, 200, state.token);
  if (what === 'token' && method === 'POST') {
    if (b.expire === 'now') state.token.cutoffMs = state.token.lastIssuedMs;
    if (b.always !== undefined) state.token.always = !!b.always;
    if (b.ttl !== undefined) state.token.ttl = Number(b.ttl);
    return send(res, 200, state.token);
  }
  if (what === 'config' && method === 'GET') return send(res, 200, settingsView(state.settings));
  if (what === 'config' && method === 'POST') {
    if (b.plain !== undefined) state.settings.plain = !!b.plain;
    return send(res, 200, settingsView(state.settings));
  }
  if (what === 'publish' && method === 'POST') return publish(state, b, res);
  if (what === 'ocr' && method === 'GET') return send(res, 200, state.ocrScript);
  if (what === 'ocr' && method === 'DELETE') { state.ocrScript = []; return send(res, 200, {}); }
  if (what === 'ocr' && method === 'POST') {
    const list = Array.isArray(b) ? b : [b];
    for (const e of list) state.ocrScript.push(Object.assign({}, e, { id: state.nextRuleId++, times: e.times === undefined ? 1 : e.times }));
    return send(res, 200, state.ocrScript);
  }
  return send(res, 404, { error: `no admin endpoint ${method} ${url.pathname}` });
}

module.exports = { handleAdmin, buildMessage };
