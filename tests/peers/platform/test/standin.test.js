'use strict';
// The platform stand-in against the contract: signing, tokens, encrypted
// answers, every operation path, the knobs, MQTT publishing and the OCR service.

const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('crypto');
const { spawn } = require('child_process');
const H = require('./harness');

H.useStandin();

const { Device, admin, request, K } = H;

function keysOf(obj) {
  return Object.keys(obj).sort();
}

function assertOk(r, what) {
  assert.equal(r.status, 200, `${what}: ${r.status} ${r.plain || r.text}`);
  assert.equal(r.json.code, 200, what);
}

test('a token is issued to a correctly signed request and its sign_key decrypts to the signing key', async () => {
  const d = new Device();
  const r = await d.fetchToken();
  assert.equal(r.headers['content-type'], 'application/json; charset=utf-8');
  assert.ok(!r.text.startsWith('{'), 'answer is encrypted');
  assert.deepEqual(keysOf(r.json), ['code', 'data', 'message']);
  assert.equal(r.json.code, 200);
  assert.equal(r.json.data.expires_in, '7200');
  assert.match(d.sign, /^[0-9a-f]{32}$/);
  const log = await H.lastRequest();
  assert.equal(log.path, '/sdk/v2/token');
  assert.equal(log.sign_ok, true);
  assert.equal(log.params.package_name, 'com.pellix.test');
  assert.equal(log.pellix_system.system_models, '测试机 x86_64', 'header read back as UTF-8');
  // The next request is signed with the new key and carries the token.
  const again = await d.call('GET', '/sdk/v2/token', { appid: K.test_app_id, secret: K.test_secret });
  assertOk(again, 'token fetch signed with the previous token');
});

test('requests with a bad header, signature or credentials are refused with an envelope', async () => {
  const d = new Device();
  const creds = { appid: K.test_app_id, secret: K.test_secret };
  const cases = [
    { name: 'no header', opts: { noHeader: true }, status: 400, code: 400, plain: true },
    { name: 'header not JSON', opts: { header: 'not-json' }, status: 400, code: 400, plain: true },
    { name: 'encrypt as text', opts: { headerOver: { encrypt: '1' } }, status: 400, code: 400 },
    { name: 'device_type wrong', opts: { headerOver: { device_type: 3 } }, status: 400, code: 400 },
    { name: 'wrong sign', opts: { badSign: true }, status: 400, code: 400 },
    { name: 'no sign', opts: { noSign: true }, status: 400, code: 400 },
    { name: 'unknown app', params: { appid: 'nope', secret: K.test_secret }, status: 400, code: 40002 },
    { name: 'wrong secret', params: { appid: K.test_app_id, secret: 'nope' }, status: 400, code: 400 },
    { name: 'no secret', params: { appid: K.test_app_id }, status: 400, code: 400400 },
  ];
  for (const c of cases) {
    const r = await d.call('GET', '/sdk/v2/token', c.params || creds, c.opts || {});
    assert.equal(r.status, c.status, c.name);
    assert.ok(r.json, `${c.name}: envelope readable (${r.text})`);
    assert.equal(r.json.code, c.code, c.name);
    assert.equal(typeof r.json.message, 'string', c.name);
    if (c.plain) assert.ok(r.text.startsWith('{'), `${c.name}: no device, so plain`);
  }
  // The signature covers trimmed values, while the values travel untrimmed.
  const r = await d.call('GET', '/sdk/v2/token', { appid: ` ${K.test_app_id}`, secret: K.test_secret });
  assert.equal(r.json.code, 40002, 'untrimmed appid reaches the platform as sent');
  assert.equal((await H.lastRequest()).sign_ok, true);
  const missing = await d.call('GET', '/sdkapi/v1/nothing/here');
  assert.equal(missing.status, 404);
  assert.equal(missing.json.code, 404);
  const wrongMethod = await d.call('POST', '/sdk/v2/token', creds);
  assert.equal(wrongMethod.status, 404);
  const doubled = await d.call('POST', '//v1/call', { from_room_id: '5001', call_type: '0' });
  assert.equal(doubled.status, 404, 'a doubled slash is not the family call');
  assert.equal((await H.lastRequest()).path, '//v1/call');
});

test('login answers the user record pointing at the local broker and SIP peer', async () => {
  const d = new Device();
  const r = await d.login();
  const u = r.json.data;
  const { brokerPort } = H.ports();
  assert.deepEqual(keysOf(u), ['app_name', 'hos_bucket', 'hos_endpoint', 'id_card_api_key', 'id_card_api_secret', 'mqtt_host',
    'mqtt_port', 'open_id', 'sip_domain', 'sip_no', 'sip_password', 'tcp_port', 'tls_port', 'topic', 'udp_port', 'user_id']);
  assert.equal(u.mqtt_host, '127.0.0.1');
  assert.equal(u.mqtt_port, String(brokerPort));
  assert.equal(u.sip_domain, '127.0.0.1');
  assert.equal(u.udp_port, String(H.SIP_PORT));
  assert.deepEqual(u.topic, ['app/room_id/5001', 'app/room_id/5003']);
  assert.equal(u.id_card_api_key, K.ocr_api_key);
  const byOpenId = await d.call('GET', '/sdkapi/v2/user/init_user_info', { open_id: u.open_id });
  assertOk(byOpenId, 'login by open id');
  const stranger = new Device();
  await stranger.fetchToken();
  const unknown = await stranger.call('GET', '/sdkapi/v2/user/init_user_info', { mobile_no: '13000000000', nation_code: '86' });
  assert.equal(unknown.status, 400);
  assert.equal(unknown.json.code, 40004);
  const noOpenId = await stranger.call('GET', '/sdkapi/v1/user/static');
  assert.equal(noOpenId.json.code, 40004, 'user operations need the open id');
});

test('every operation path answers in its record shape', async () => {
  const d = new Device();
  await d.login();
  const walk = [
    ['POST', '/sdkapi/v1/device/push_binding', { device_token: '0a1b2c3d4e5f6071' }],
    ['GET', '/sdkapi/v1/user/static', {}, (x) => assert.deepEqual(keysOf(x[0]), ['authorization_number', 'autu_type', 'building_id',
      'building_name', 'dep_id', 'dep_name', 'open_card_number', 'room_full_name', 'room_number', 'room_number_id', 'unit_id', 'unit_name'])],
    ['GET', '/sdkapi/v2/estate/room', {}, (x) => { assert.equal(x.topic.length, 2); assert.equal(x.list.length, 2); }],
    ['GET', '/sdkapi/v1/user/owner_mobile', { room_id: '5003' }, (x) => assert.deepEqual(x, [{ mobile_no: '13600136000' }, { mobile_no: '13600136001' }])],
    ['GET', '/sdkapi/v1/calltransfer/number', { room_id: '5001' }, (x) => assert.deepEqual(keysOf(x), ['nation_code', 'set_permission', 'transfer_mobile'])],
    ['POST', '/sdkapi/v1/calltransfer/number_set', { room_id: '5001', mobile: '13911112222', nation_code: '86' }],
    ['GET', '/sdkapi/v1/calltransfer/number', { room_id: '5001' }, (x) => assert.equal(x.transfer_mobile, '13911112222')],
    ['GET', '/sdkapi/v1/calltransfer/number_list', {}, (x) => assert.equal(x[0].numbers, '13900000001,13900000002')],
    ['GET', '/sdkapi/v1/call/disturb_info', {}, (x) => assert.deepEqual(keysOf(x.room_disturb_list[0]), ['app_status', 'call_status', 'room_id'])],
    ['POST', '/sdkapi/v1/call/room_disturb', { room_id: '5001', disturb_status: '1', call_status: '0' },
      (x) => assert.deepEqual(x, { disturb_status: '1', call_status: '0' })],
    ['POST', '/sdkapi/v1/call/onekey_disturb', { disturb_status: '0', call_status: '1' }, (x) => assert.equal(x.call_status, '1')],
    ['GET', '/sdkapi/v2/keypackage/key_list', { room_numer_id: '5001' }, (x) => {
      assert.equal(x.is_bluetooth, '1');
      assert.deepEqual(x.list.map((k) => k.door_id), ['7001', '7002']);
      assert.equal(Object.keys(x.list[0]).length, 16);
    }],
    ['POST', '/sdkapi/v1/keypackage/key_sortset', { room_number_id: '5001', door_id: '7002,7001' }],
    ['POST', '/sdkapi/v1/keypackage/custom_keyname', { door_id: '7002', alias: '我家楼下' }],
    ['GET', '/sdkapi/v2/keypackage/key_list', { room_numer_id: '5001' }, (x) => {
      assert.deepEqual(x.list.map((k) => k.door_id), ['7002', '7001']);
      assert.equal(x.list[0].door_alias, '我家楼下');
    }],
    ['GET', '/sdkapi/v1/message/notice', { start_page: '1', page_no: '2' }, (x) => assert.equal(x.length, 2)],
    ['GET', '/sdkapi/v1/message/notice', { start_page: '1', page_no: '20', room_id: '5003' }, (x) => assert.equal(x.length, 2)],
    ['GET', '/sdkapi/v1/message/notice_detail', { notice_id: '9001' }, (x) => assert.equal(Object.keys(x).length, 10)],
    ['GET', '/sdkapi/v1/visitor/user_visitors', { room_id: '5001', open_type: '0', start_page: '1', page_no: '20' }, (x) => assert.equal(x.length, 1)],
    ['GET', '/sdkapi/v1/visitor/room_visitors', { room_id: '5001', open_type: '0', start_page: '1', page_no: '20' }, (x) => {
      assert.equal(x.length, 2);
      assert.equal(Object.keys(x[0]).length, 15);
    }],
    ['POST', '/sdkapi/v1/door/app_open', { room_id: '5001', door_id: '7001', open_type: '2' }],
    ['POST', '/sdkapi/v1/door/app_password', { room_id: '5001' }, (x) => {
      assert.match(x.password, /^\d{6}$/);
      assert.deepEqual(keysOf(x.list[0]), ['door_guid', 'door_id', 'message', 'success']);
    }],
    ['GET', '/sdkapi/v1/door/password_list', { room_id: '5001' }, (x) => assert.deepEqual(keysOf(x[0]), ['apply_time', 'message', 'password', 'password_id', 'status'])],
    ['GET', '/sdkapi/v1/card/card_list', { room_id: '5001' }, (x) => assert.equal(Object.keys(x[0]).length, 11)],
    ['POST', '/sdkapi/v1/auth/add', { nation_code: '86', name: '王五', auth_mobile: '13712345678', room_id: '5001', auth_type: '2',
      begin_time: '2026-12-10 00:00', end_time: '2027-12-10 00:00' }],
    ['GET', '/sdkapi/v1/auth/lists', { room_id: '5001', page_no: '20', start_page: '1' }, (x) => {
      assert.equal(x.auth_list_number, '2');
      assert.equal(Object.keys(x.list[1]).length, 9);
    }],
    ['POST', '/sdkapi/v1/auth/modify', { auth_user_id: '11001', name: '李四四', room_id: '5001', auth_type: '1', begin_time: 'a', end_time: 'b' }],
    ['POST', '/sdkapi/v1/auth/delete', { room_id: '5001', auth_user_id: '11001' }],
    ['POST', '/sdkapi/v1/auth/stop', { room_id: '5001' }],
    ['POST', '/sdkapi/v1/property/publish_message', { room_id: '5001', tag_type: '1', images_name: 'k1,k2' }],
    ['GET', '/sdkapi/v1/property/message_list', { dep_id: '201', start_page: '1', page_no: '20' }, (x) => {
      assert.deepEqual(x[0].photos_name, ['k1', 'k2']);
      assert.equal(x[1].reply_list[0].message, '已安排维修');
    }],
    ['GET', '/sdkapi/v1/estate/department_search', { keyword: '翠湖', start_page: '1', page_no: '20' }, (x) => assert.equal(x[0].city_name, '深圳市')],
    ['GET', '/sdkapi/v1/estate/city', { start_page: '1', page_no: '2' }, (x) => assert.equal(x.length, 2)],
    ['GET', '/sdkapi/v1/estate/department_list', { city_id: '4403' }, (x) => assert.equal(x.length, 2)],
    ['GET', '/sdkapi/v1/estate/building_unit', { dep_id: '201' }, (x) => assert.equal(x[0].full_name, '1栋1单元')],
    ['GET', '/sdkapi/v1/estate/room_number', { unit_id: '401' }, (x) => assert.deepEqual(keysOf(x[0]), ['is_open_card', 'room_number', 'room_number_id'])],
    ['GET', '/sdkapi/v1/selfauth/apply', { room_number_id: '5002', city_id: '4403', dep_id: '201', real_name: '张三', mobile_no: '13800138000',
      self_help_status: '1', auth_type: '1', card_img1: 'a', card_img2: 'b', card_img3: 'c', card_no: '440305199001011234', card_name: '张三',
      nation: '汉', address: '深圳', government: '南山分局', validity: '2035', nation_code: '86' }],
    ['GET', '/sdkapi/v1/selfauth/record', { start_page: '1', page_no: '20' }, (x) => {
      assert.equal(x.length, 2);
      assert.equal(Object.keys(x[0]).length, 12);
    }],
    ['GET', '/sdk/v1/halvane_tokens', {}, (x) => {
      assert.deepEqual(keysOf(x.remote_directory), ['apk_packages', 'contact_management', 'head_portrait', 'id_cards', 'visitor_images']);
      assert.deepEqual(keysOf(x.token.Credentials), ['AccessKeyId', 'AccessKeySecret', 'Expiration', 'SecurityToken']);
      assert.match(x.token.Credentials.Expiration, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\+0000$/);
    }],
    ['POST', '/v1/call', { device_guid: d.guid, from_room_id: '5001', to_room_id: '', to_room_no: '102', call_type: '1' }, (x) => {
      assert.deepEqual(keysOf(x), ['expired_seconds', 'sip_list', 'to_room_id', 'transaction_id']);
      assert.equal(x.to_room_id, 5002);
      assert.deepEqual(x.sip_list, ['1000201']);
    }],
    ['POST', '/sdkapi/v1/user/register', { mobile_no: '13000000001', nation_code: '86', user_name: 'x' }, (x) => assert.ok(x.open_id)],
    ['POST', '/v1/push/binding', { device_token: 'ab' }],
    ['POST', '/v1/push/unbinding', { device_token: 'ab' }],
    ['GET', '/v1/user/info', {}, (x) => assert.equal(x.sip_no, '1000101')],
    ['GET', '/v1/all/department', {}, (x) => assert.equal(x.length, 3)],
    ['GET', '/v1/building', { department_id: '201' }, (x) => assert.equal(x.length, 2)],
    ['GET', '/v1/unit', { building_id: '301' }, (x) => assert.equal(x.length, 1)],
    ['GET', '/v1/room', { unit_id: '401' }, (x) => assert.equal(x.length, 2)],
    ['POST', '/v1/user/disturb', { call_status: '1', forwarding_status: '0' }],
    ['GET', '/v1/user/rooms', {}, (x) => assert.equal(x.length, 2)],
    ['POST', '/v1/rooms/disturb', { room_id: '5003', call_status: '0', forwarding_status: '0' }],
    ['POST', '/pxs/community/v2/new_push/call', { caller_type: '1', caller_device_id: 'x', cmd: 'call', room_id: '5001' }],
    ['POST', '/v1/doors/open', { door_id: '7001', room_id: '5001', operate_type: '1' }],
    ['POST', '/v1/doors/password', { room_id: '5003' }, (x) => assert.equal(x.list[0].success, 1)],
    ['GET', '/v1/visitor_log', { room_id: '5001', start_page: 1, page_no: 20, open_type: 1 }, (x) => assert.ok(x.length >= 2)],
    ['POST', '/sdkapi/v1/user/user_quit', {}],
  ];
  for (const [method, apiPath, params, check] of walk) {
    const r = await d.call(method, apiPath, params);
    assertOk(r, `${method} ${apiPath}`);
    if (check) check(r.json.data);
  }
  const list = await d.call('GET', '/sdkapi/v1/door/password_list', { room_id: '5001' });
  const detail = await d.call('GET', '/sdkapi/v1/door/password_detail', { room_id: '5001', password_id: list.json.data[0].password_id });
  assertOk(detail, 'password detail');
  assert.deepEqual(keysOf(detail.json.data.list[0]), ['door_guid', 'door_name', 'message', 'status', 'use_time']);
  const photo = await d.call('GET', '/v1/caller/photo', { door_sip_no: '8007001' });
  assert.equal(photo.status, 200);
  assert.equal(photo.headers['content-type'], 'image/png');
  assert.equal(photo.body.subarray(1, 4).toString(), 'PNG');
});

test('the world refuses what a platform would refuse', async () => {
  await admin('POST', 'reset');
  const d = new Device();
  await d.login();
  const cases = [
    ['GET', '/sdkapi/v1/user/owner_mobile', { room_id: '5002' }, 400010],
    ['GET', '/sdkapi/v1/user/owner_mobile', { room_id: '' }, 400400],
    ['POST', '/sdkapi/v1/door/app_open', { room_id: '5001', door_id: '7003' }, 40008],
    ['POST', '/sdkapi/v1/door/app_open', { room_id: '5003', door_id: '7003' }, 40009],
    ['POST', '/v1/call', { from_room_id: '5001', to_room_no: '999', call_type: '0' }, 400015],
    ['POST', '/sdkapi/v1/property/publish_message', { room_id: '5001', tag_type: '1' }, 400400],
    ['GET', '/sdkapi/v1/door/password_detail', { room_id: '5001', password_id: 'nope' }, 400012],
  ];
  for (const [method, apiPath, params, code] of cases) {
    const r = await d.call(method, apiPath, params);
    assert.equal(r.status, 400, `${apiPath} ${JSON.stringify(params)}`);
    assert.equal(r.json.code, code, `${apiPath} ${JSON.stringify(params)}`);
  }
});

test('token knobs: expire until a new token is fetched, always, and a short lifetime', async () => {
  const d = new Device();
  await d.login();
  assertOk(await d.call('GET', '/sdkapi/v1/user/static'), 'before');
  await admin('POST', 'token', { expire: 'now' });
  const stale = await d.call('GET', '/sdkapi/v1/user/static');
  assert.equal(stale.status, 426);
  assert.deepEqual(stale.json, { code: 426, message: 'Token失效' });
  assert.equal((await d.call('GET', '/sdkapi/v1/user/static')).status, 426, 'stays expired');
  await d.fetchToken();
  assertOk(await d.call('GET', '/sdkapi/v1/user/static'), 'after a new token');

  await admin('POST', 'token', { always: true });
  await d.fetchToken();
  assert.equal((await d.call('GET', '/sdkapi/v1/user/static')).status, 426, 'always');
  await admin('POST', 'token', { always: false });
  assertOk(await d.call('GET', '/sdkapi/v1/user/static'), 'always off');

  await admin('POST', 'token', { ttl: 0 });
  const t = await d.fetchToken();
  assert.equal(t.json.data.expires_in, '0');
  assert.equal((await d.call('GET', '/sdkapi/v1/user/static')).status, 426, 'lifetime over');
  await admin('POST', 'token', { ttl: 7200 });
  await d.fetchToken();
  d.token = 'not-a-token';
  assert.equal((await d.call('GET', '/sdkapi/v1/user/static')).status, 426, 'unknown token');
});

test('forced answers: status, platform code, delay, data and broken bodies', async () => {
  const d = new Device();
  await d.login();
  const P = '/sdkapi/v1/calltransfer/number_list';
  await admin('POST', 'rules', { path: P, status: 500 });
  let r = await d.call('GET', P);
  assert.equal(r.status, 500);
  assert.deepEqual(r.json, { code: 500, message: '服务器异常' });
  assertOk(await d.call('GET', P), 'a rule applies once by default');

  await admin('POST', 'rules', { path: P, code: 40004 });
  r = await d.call('GET', P);
  assert.equal(r.status, 400);
  assert.deepEqual(r.json, { code: 40004, message: '用户不存在' });

  await admin('POST', 'rules', { path: P, status: 403, envelope: { code: 'E1' }, times: 2 });
  for (let i = 0; i < 2; i++) assert.deepEqual((await d.call('GET', P)).json, { code: 'E1' });
  assertOk(await d.call('GET', P), 'after two');

  await admin('POST', 'rules', { path: P, delay_ms: 300 });
  const t0 = Date.now();
  assertOk(await d.call('GET', P), 'delayed');
  assert.ok(Date.now() - t0 >= 290);

  await admin('POST', 'rules', { path: '/sdk/v1/halvane_tokens', data: { token: { Credentials: { AccessKeyId: 'x' } } } });
  r = await d.call('GET', '/sdk/v1/halvane_tokens');
  assert.deepEqual(r.json.data, { token: { Credentials: { AccessKeyId: 'x' } } });

  const bodies = [
    ['garbage', (x) => { assert.equal(x.json, undefined); assert.equal(x.text, '<html>not a platform answer</html>'); }],
    ['empty', (x) => assert.equal(x.body.length, 0)],
    ['space', (x) => assert.equal(x.text, ' ')],
    ['array', (x) => { assert.ok(Array.isArray(x.json)); assert.equal(x.json[0].code, 200); }],
    ['plain', (x) => { assert.equal(JSON.parse(x.text).code, 200); assert.ok(!x.plain, 'does not also decrypt'); }],
    ['other-device', (x) => {
      assert.equal(x.json, undefined, 'does not read as JSON on this device');
      const other = H.aesDecrypt(x.text, H.answerKey('00000000-0000-4000-8000-0000000000FF'), Buffer.from(K.response_iv, 'ascii'));
      assert.equal(JSON.parse(other).code, 200);
    }],
  ];
  for (const [body, check] of bodies) {
    await admin('POST', 'rules', { path: P, body });
    check(await d.call('GET', P));
  }
  await admin('POST', 'rules', { path: P, body: 'raw', raw: '{"code":7}', content_type: 'text/plain' });
  r = await d.call('GET', P);
  assert.equal(r.headers['content-type'], 'text/plain');
  assert.equal(r.text, '{"code":7}');

  await admin('POST', 'config', { plain: true });
  r = await d.call('GET', P);
  assert.equal(JSON.parse(r.text).code, 200, 'plain switch');
  await admin('POST', 'config', { plain: false });
  assert.ok(!(await d.call('GET', P)).text.startsWith('{'));
});

test('the request log gives back path, method, headers and decoded parameters', async () => {
  await admin('DELETE', 'requests');
  const d = new Device();
  await d.login();
  await d.call('POST', '/sdkapi/v1/call/room_disturb', { room_id: '5001', disturb_status: '1', call_status: '0 ' });
  const log = (await admin('GET', 'requests?n=2')).json;
  assert.equal(log.length, 2);
  const e = log[1];
  assert.equal(e.method, 'POST');
  assert.equal(e.path, '/sdkapi/v1/call/room_disturb');
  assert.equal(e.form.call_status, '0 ', 'values as sent');
  assert.deepEqual(e.query, {});
  assert.equal(e.params.open_id, d.openId);
  assert.equal(e.sign_ok, true);
  assert.equal(e.pellix_system.device_guid, d.guid);
  assert.match(e.headers['content-type'], /x-www-form-urlencoded/);
  assert.equal(e.status, 200);
  // POST parameters count only in the body.
  const inQuery = await request('POST', `/sdkapi/v1/call/onekey_disturb?${new URLSearchParams(d.signed({ disturb_status: '0', call_status: '0' }))}`,
    { headers: { 'Pellix-System': d.systemHeader() } });
  assert.equal(inQuery.status, 400);
  assert.equal((await H.lastRequest()).query.disturb_status, '0');
  const only = (await admin('GET', `requests?path=${encodeURIComponent('/sdk/v2/token')}`)).json;
  assert.equal(only.length, 1);
});

function receiveOne(topic) {
  const { brokerPort } = H.ports();
  return new Promise((resolve, reject) => {
    const sub = spawn('mosquitto_sub', ['-h', '127.0.0.1', '-p', String(brokerPort), '-t', topic, '-C', '1', '-W', '5'],
      { stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    sub.stdout.on('data', (c) => { out += c; });
    sub.on('error', reject);
    sub.on('exit', (code) => (code === 0 ? resolve(JSON.parse(out)) : reject(new Error(`mosquitto_sub exit ${code}`))));
  });
}

test('admin publishes makeCall, hangUpCall, notice and auth_expires on the room topic', async () => {
  await admin('POST', 'reset');
  // Retained, so the one-shot subscriber that starts afterwards receives it.
  const pub = await admin('POST', 'publish', { cmd: 'makeCall', room_id: '5001', retain: true });
  assert.equal(pub.status, 200, JSON.stringify(pub.json));
  assert.equal(pub.json.topic, 'app/room_id/5001');
  const call = await receiveOne('app/room_id/5001');
  assert.equal(call.cmd, 'makeCall');
  assert.equal(call.transactionID, pub.json.transactionID);
  assert.equal(typeof call.expiredAt, 'number');
  assert.deepEqual(call.data, { incomingType: 1, doorSipNO: '8007001', doorName: '南大门',
    doorGuid: 'D7A1C0DE-0000-4000-8000-000000007001', doorID: '7001', appRoomID: '5001', disturbSip: [] });

  await admin('POST', 'publish', { cmd: 'hangUpCall', room_id: '5001', toSipNO: '1000111', retain: true });
  const hang = await receiveOne('app/room_id/5001');
  assert.deepEqual(hang, { cmd: 'hangUpCall', transactionID: call.transactionID, data: { toSipNO: '1000111' } });

  await admin('POST', 'publish', { cmd: 'notice', room_id: '5003', retain: true });
  const notice = await receiveOne('app/room_id/5003');
  assert.equal(notice.data.type, 'room_id');
  assert.equal(notice.data.object_id, '5003');
  assert.ok('transactionID' in notice);

  await admin('POST', 'publish', { cmd: 'auth_expires', room_id: '5003', data: { type: 'DEL' }, retain: true });
  assert.deepEqual((await receiveOne('app/room_id/5003')).data,
    { title: '授权变更', content: '您的房间授权已变更', room_id: '5003', type: 'DEL' });

  // A room set to do-not-disturb names the resident's SIP number; null drops a member.
  const d = new Device();
  await d.login();
  await d.call('POST', '/sdkapi/v1/call/room_disturb', { room_id: '5001', disturb_status: '1', call_status: '0' });
  await admin('POST', 'publish', { cmd: 'makeCall', room_id: '5001', data: { doorGuid: null }, omit: ['expiredAt'], retain: true });
  const quiet = await receiveOne('app/room_id/5001');
  assert.deepEqual(quiet.data.disturbSip, ['1000101']);
  assert.ok(!('doorGuid' in quiet.data));
  assert.ok(!('expiredAt' in quiet));
});

function multipart(fields, file) {
  const boundary = `Boundary+${crypto.randomBytes(8).toString('hex')}`;
  const chunks = [];
  for (const [k, v] of Object.entries(fields)) {
    chunks.push(Buffer.from(`--${boundary}\r\nContent-Disposition: form-data; name="${k}"\r\n\r\n${v}\r\n`));
  }
  if (file) {
    chunks.push(Buffer.from(`--${boundary}\r\nContent-Disposition: form-data; name="image_file"; filename="image_file"\r\n` +
      'Content-Type: image/jpeg/png\r\n\r\n'), file, Buffer.from('\r\n'));
  }
  chunks.push(Buffer.from(`--${boundary}--\r\n`));
  return { body: Buffer.concat(chunks), type: `multipart/form-data; boundary=${boundary}` };
}

async function ocr(fields, file) {
  const m = multipart(fields, file);
  const r = await request('POST', '/ocr/v1/ocridcard', { body: m.body, headers: { 'Content-Type': m.type } });
  return { status: r.status, json: JSON.parse(r.body.toString('utf8')) };
}

test('the OCR service checks its fields and answers scripted cards', async () => {
  const creds = { api_key: K.ocr_api_key, api_secret: K.ocr_api_secret };
  const img = Buffer.from([0xff, 0xd8, 0xff, 0xe0, 1, 2, 3]);
  let r = await ocr(creds, img);
  assert.equal(r.status, 200);
  assert.equal(r.json.cards.length, 1);
  assert.deepEqual(keysOf(r.json.cards[0]), ['address', 'birthday', 'gender', 'id_card_number', 'name', 'race', 'side', 'type']);
  assert.equal(r.json.cards[0].side, 'front');
  assert.equal(r.json.cards[0].type, 1);
  const log = await H.lastRequest();
  assert.deepEqual(log.multipart.files, [{ name: 'image_file', filename: 'image_file', content_type: 'image/jpeg/png', size: img.length }]);

  await admin('POST', 'ocr', [{ side: 'back' }, { side: 'two' }, { side: 'front', card: { name: '李四' } }, { status: 500, body: 'oops' }]);
  assert.deepEqual(keysOf((await ocr(creds, img)).json.cards[0]), ['issued_by', 'side', 'type', 'valid_date']);
  assert.equal((await ocr(creds, img)).json.cards.length, 2);
  assert.equal((await ocr(creds, img)).json.cards[0].name, '李四');
  const failing = await request('POST', '/ocr/v1/ocridcard', { body: multipart(creds, img).body,
    headers: { 'Content-Type': 'multipart/form-data; boundary=wrong' } });
  assert.equal(failing.status, 400, 'framing checked');
  const m = multipart(creds, img);
  const scripted = await request('POST', '/ocr/v1/ocridcard', { body: m.body, headers: { 'Content-Type': m.type } });
  assert.equal(scripted.status, 500);
  assert.equal(scripted.body.toString(), 'oops');

  const refusals = [
    [{ api_secret: K.ocr_api_secret }, img, 400],
    [{ api_key: K.ocr_api_key, api_secret: 'wrong' }, img, 401],
    [creds, undefined, 400],
    [creds, Buffer.alloc(2 * 1024 * 1024 + 1), 413],
  ];
  for (const [fields, file, status] of refusals) {
    r = await ocr(fields, file);
    assert.equal(r.status, status, JSON.stringify(r.json));
    assert.equal(typeof r.json.error_message, 'string');
  }
});
