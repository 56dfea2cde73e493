'use strict';
// Every platform operation the stand-in answers: method, path, required
// parameters, who may call it, and the handler that reads and changes the world.

const crypto = require('crypto');
const W = require('./world');

const MESSAGES = {
  200: '请求成功', 400: '请求失败', 403: '请求频率过快，同一接口3s只能请求一次', 404: '接口不存在',
  426: 'Token失效', 500: '服务器异常', 40001: 'agent id不存在', 40002: 'app id不存在', 40003: 'sdk id不存在',
  40004: '用户不存在', 40005: '设备不存在', 40006: '呼叫失败', 40007: '门禁机不存在或被解绑', 40008: '开门设备不存在',
  40009: '开门失败', 400010: '无权限', 400011: '门禁机不存在', 400012: '开门密码生产失败', 400015: '被叫房间不存在',
  400400: '缺少必要参数',
};

class PlatformError extends Error {
  constructor(status, code, message) {
    super(message || MESSAGES[code] || '');
    this.status = status;
    this.code = code;
  }
}

// A platform refusal: HTTP 400 carrying the platform's code.
function refuse(code, message) {
  return new PlatformError(400, code, message);
}

function ownRoom(ctx, id) {
  const room = W.roomById(ctx.w, id);
  if (!room) throw refuse(400010);
  if (!ctx.w.user.rooms.includes(room.room_number_id)) throw refuse(400010);
  return room;
}

function doorOfRoom(ctx, room, doorId) {
  const door = W.doorsOfRoom(ctx.w, room).find((d) => d.door_id === String(doorId));
  if (!door) throw refuse(40008);
  return door;
}

// Pages are 1-based; page_no is the page size. Unreadable values fall back.
function page(list, p, defSize) {
  let start = parseInt(p.start_page, 10);
  let size = parseInt(p.page_no, 10);
  if (!(start >= 1)) start = 1;
  if (!(size >= 1)) size = defSize || 20;
  return list.slice((start - 1) * size, start * size);
}

function matches(text, keyword) {
  return keyword === undefined || keyword === '' || String(text).includes(keyword);
}

function pick(obj, keys) {
  const out = {};
  for (const k of keys) out[k] = obj[k];
  return out;
}

function userRecord(ctx) {
  const w = ctx.w;
  const s = ctx.settings;
  return {
    topic: w.user.rooms.map(W.topicOf),
    sip_domain: s.sipHost,
    sip_no: w.user.sip_no,
    sip_password: w.user.sip_password,
    tcp_port: String(s.sipPort),
    udp_port: String(s.sipPort),
    tls_port: String(s.sipTlsPort),
    mqtt_host: s.brokerHost,
    mqtt_port: s.brokerPort ? String(s.brokerPort) : '',
    user_id: w.user.user_id,
    app_name: w.app.app_name,
    id_card_api_key: s.ocrApiKey,
    id_card_api_secret: s.ocrApiSecret,
    hos_endpoint: s.hosEndpoint,
    hos_bucket: s.hosBucket,
    open_id: w.user.open_id,
  };
}

function gmtText(date) {
  return date.toISOString().replace(/\.\d{3}Z$/, '+0000');
}

function storageCredentials(ctx) {
  const s = ctx.settings;
  return {
    remote_directory: {
      apk_packages: 'apk_packages', contact_management: 'contact_management', head_portrait: 'head_portrait',
      id_cards: 'id_cards', visitor_images: 'visitor_images',
    },
    token: {
      Credentials: {
        AccessKeyId: s.hosAccessKeyId,
        AccessKeySecret: s.hosAccessKeySecret,
        SecurityToken: s.hosSecurityToken,
        Expiration: gmtText(new Date(ctx.now.getTime() + s.hosTtl * 1000)),
      },
    },
  };
}

function visitorRecord(v) {
  return pick(v, ['id', 'open_type', 'open_type_info', 'description', 'thumbnail_url', 'img_url', 'is_connect',
    'timestamp', 'room_id', 'door_guid', 'date', 'time', 'user_name', 'door_name', 'owner_type']);
}

function authRecord(a) {
  return pick(a, ['auth_user_id', 'auth_user_mobile', 'auth_user_name', 'begin_time', 'end_time', 'is_no_limit',
    'auth_type', 'auth_type_info', 'nation_code']);
}

function findAuth(ctx, roomId, authUserId) {
  const a = ctx.w.auths.find((x) => x.room_id === String(roomId) && x.auth_user_id === String(authUserId));
  if (!a) throw refuse(40004);
  return a;
}

function doorPassword(ctx, room) {
  const w = ctx.w;
  const doors = W.doorsOfRoom(w, room);
  const password = String(crypto.randomInt(100000, 1000000));
  const applied = W.stamp(ctx.now);
  w.counters.password += 1;
  const rec = {
    password_id: String(w.counters.password), room_id: room.room_number_id, password, status: '1', message: '有效',
    apply_time: applied, expired_time: W.stamp(new Date(ctx.now.getTime() + 24 * 3600 * 1000)),
    doors: doors.map((d) => ({ door_guid: d.door_guid, door_name: d.door_name, door_id: d.door_id, online: d.is_online === '1' })),
  };
  w.passwords.push(rec);
  return {
    password, expired_time: rec.expired_time,
    list: rec.doors.map((d) => ({ success: d.online ? 1 : 0, message: d.online ? '下发成功' : '门口机离线',
      door_id: d.door_id, door_guid: d.door_guid })),
  };
}

function familyCall(ctx) {
  const w = ctx.w;
  const p = ctx.p;
  const from = W.roomById(w, p.from_room_id);
  if (!from || !w.user.rooms.includes(from.room_number_id)) throw refuse(400010);
  let to = p.to_room_id ? W.roomById(w, p.to_room_id) : undefined;
  if (!to && p.to_room_no) to = w.rooms.find((r) => r.unit_id === from.unit_id && r.room_number === String(p.to_room_no));
  if (!to || to === from) throw refuse(400015);
  w.counters.transaction += 1;
  return {
    expired_seconds: '30',
    transaction_id: `tx-${Date.now().toString(36)}-${w.counters.transaction}`,
    sip_list: to.sip_list.slice(),
    to_room_id: Number(to.room_number_id),
  };
}

// A 1x1 transparent PNG: the caller photo of the older photo operation.
const PHOTO_PNG = Buffer.from(
  'iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg==', 'base64');

const OPS = [
  // Account and device.
  { method: 'GET', path: '/sdk/v2/token', required: ['appid', 'secret'], auth: 'app', handler: (ctx) => ctx.issueToken() },
  { method: 'POST', path: '/sdkapi/v1/user/register', required: ['mobile_no'], auth: 'token', handler: (ctx) => {
    ctx.w.registered.push(pick(ctx.p, ['nation_code', 'user_name', 'mobile_no', 'card_no', 'sdk_app_id']));
    const known = ctx.p.mobile_no === ctx.w.user.mobile_no;
    return { open_id: known ? ctx.w.user.open_id : `px-open-r${ctx.w.registered.length}` };
  } },
  { method: 'GET', path: '/sdkapi/v2/user/init_user_info', required: [], auth: 'token', handler: (ctx) => {
    const p = ctx.p; const u = ctx.w.user;
    if (p.open_id !== undefined && p.open_id !== '') {
      if (p.open_id !== u.open_id) throw refuse(40004);
    } else if (p.mobile_no !== undefined && p.nation_code !== undefined) {
      if (p.mobile_no !== u.mobile_no || p.nation_code !== u.nation_code) throw refuse(40004);
    } else {
      throw refuse(400400);
    }
    return userRecord(ctx);
  } },
  { method: 'POST', path: '/sdkapi/v1/user/user_quit', required: [], auth: 'user', handler: () => undefined },
  { method: 'POST', path: '/sdkapi/v1/device/push_binding', required: ['device_token'], auth: 'user', handler: (ctx) => {
    if (!ctx.w.push_tokens.includes(ctx.p.device_token)) ctx.w.push_tokens.push(ctx.p.device_token);
  } },
  { method: 'GET', path: '/sdk/v1/halvane_tokens', required: [], auth: 'token', handler: storageCredentials },
  { method: 'GET', path: '/sdkapi/v1/user/static', required: [], auth: 'user', handler: (ctx) =>
    ctx.w.user.rooms.map((id) => W.roomInfo(ctx.w, W.roomById(ctx.w, id))) },
  { method: 'GET', path: '/sdkapi/v2/estate/room', required: [], auth: 'user', handler: (ctx) => ({
    topic: ctx.w.user.rooms.map(W.topicOf),
    list: ctx.w.user.rooms.map((id) => W.roomInfo(ctx.w, W.roomById(ctx.w, id))),
  }) },
  { method: 'GET', path: '/sdkapi/v1/user/owner_mobile', required: ['room_id'], auth: 'user', handler: (ctx) =>
    ownRoom(ctx, ctx.p.room_id).owner_mobile.map((m) => ({ mobile_no: m })) },

  // Call settings.
  { method: 'GET', path: '/sdkapi/v1/calltransfer/number', required: ['room_id'], auth: 'user', handler: (ctx) =>
    Object.assign({}, ownRoom(ctx, ctx.p.room_id).transfer) },
  { method: 'POST', path: '/sdkapi/v1/calltransfer/number_set', required: ['room_id', 'mobile', 'nation_code'], auth: 'user', handler: (ctx) => {
    const room = ownRoom(ctx, ctx.p.room_id);
    if (room.transfer.set_permission !== '1') throw refuse(400010);
    room.transfer.transfer_mobile = ctx.p.mobile;
    room.transfer.nation_code = ctx.p.nation_code;
  } },
  { method: 'GET', path: '/sdkapi/v1/calltransfer/number_list', required: [], auth: 'user', handler: (ctx) =>
    [{ numbers: ctx.w.transfer_numbers }] },
  { method: 'GET', path: '/sdkapi/v1/call/disturb_info', required: [], auth: 'user', handler: (ctx) => ({
    app_status: ctx.w.disturb.app_status, call_status: ctx.w.disturb.call_status,
    room_disturb_list: ctx.w.user.rooms.map((id) => {
      const r = W.roomById(ctx.w, id);
      return { app_status: r.disturb.app_status, call_status: r.disturb.call_status, room_id: r.room_number_id };
    }),
  }) },
  { method: 'POST', path: '/sdkapi/v1/call/room_disturb', required: ['room_id', 'disturb_status', 'call_status'], auth: 'user', handler: (ctx) => {
    const room = ownRoom(ctx, ctx.p.room_id);
    room.disturb = { app_status: ctx.p.disturb_status, call_status: ctx.p.call_status };
    return { disturb_status: room.disturb.app_status, call_status: room.disturb.call_status };
  } },
  { method: 'POST', path: '/sdkapi/v1/call/onekey_disturb', required: ['disturb_status', 'call_status'], auth: 'user', handler: (ctx) => {
    const w = ctx.w;
    w.disturb = { app_status: ctx.p.disturb_status, call_status: ctx.p.call_status };
    for (const id of w.user.rooms) W.roomById(w, id).disturb = Object.assign({}, w.disturb);
    return { disturb_status: w.disturb.app_status, call_status: w.disturb.call_status };
  } },

  // Keys and doors.
  { method: 'GET', path: '/sdkapi/v2/keypackage/key_list', required: ['room_numer_id'], auth: 'user', handler: (ctx) => {
    const room = ownRoom(ctx, ctx.p.room_numer_id);
    const dep = W.roomPlace(ctx.w, room).dep;
    return { is_bluetooth: ctx.w.is_bluetooth, management_phone: dep.management_phone,
      list: W.doorsOfRoom(ctx.w, room).map((d) => W.keyInfo(ctx.w, d)) };
  } },
  { method: 'POST', path: '/sdkapi/v1/keypackage/key_sortset', required: ['room_number_id', 'door_id'], auth: 'user', handler: (ctx) => {
    const room = ownRoom(ctx, ctx.p.room_number_id);
    const ids = String(ctx.p.door_id).split(',').map((s) => s.trim()).filter((s) => s !== '');
    for (const id of ids) doorOfRoom(ctx, room, id);
    ctx.w.key_order[room.room_number_id] = ids;
    return W.doorsOfRoom(ctx.w, room).map((d) => W.keyInfo(ctx.w, d));
  } },
  { method: 'POST', path: '/sdkapi/v1/keypackage/custom_keyname', required: ['alias', 'door_id'], auth: 'user', handler: (ctx) => {
    const w = ctx.w;
    const door = w.doors.find((d) => d.door_id === ctx.p.door_id &&
      w.user.rooms.some((id) => W.doorsOfRoom(w, W.roomById(w, id)).includes(d)));
    if (!door) throw refuse(40008);
    w.aliases[door.door_id] = ctx.p.alias;
    return W.keyInfo(w, door);
  } },
  { method: 'POST', path: '/sdkapi/v1/door/app_open', required: ['room_id', 'door_id'], auth: 'user', handler: (ctx) => {
    const room = ownRoom(ctx, ctx.p.room_id);
    const door = doorOfRoom(ctx, room, ctx.p.door_id);
    if (door.is_online !== '1') throw refuse(40009);
    ctx.w.visitors.unshift({ id: String(60000 + ctx.w.visitors.length + 1), open_type: ctx.p.open_type || '2', open_type_info: 'APP开门',
      description: `${ctx.w.user.name}通过APP开门`, thumbnail_url: '', img_url: '', is_connect: '1',
      timestamp: String(Math.floor(ctx.now.getTime() / 1000)), room_id: room.room_number_id, door_guid: door.door_guid,
      date: W.stamp(ctx.now).slice(0, 10), time: W.stamp(ctx.now).slice(11), user_name: ctx.w.user.name,
      door_name: door.door_name, owner_type: '1', user_id: ctx.w.user.user_id });
  } },
  { method: 'POST', path: '/sdkapi/v1/door/app_password', required: ['room_id'], auth: 'user', handler: (ctx) =>
    doorPassword(ctx, ownRoom(ctx, ctx.p.room_id)) },
  { method: 'GET', path: '/sdkapi/v1/door/password_list', required: ['room_id'], auth: 'user', handler: (ctx) => {
    const room = ownRoom(ctx, ctx.p.room_id);
    return ctx.w.passwords.filter((x) => x.room_id === room.room_number_id)
      .map((x) => pick(x, ['password_id', 'password', 'status', 'message', 'apply_time']));
  } },
  { method: 'GET', path: '/sdkapi/v1/door/password_detail', required: ['room_id', 'password_id'], auth: 'user', handler: (ctx) => {
    const room = ownRoom(ctx, ctx.p.room_id);
    const rec = ctx.w.passwords.find((x) => x.room_id === room.room_number_id && x.password_id === ctx.p.password_id);
    if (!rec) throw refuse(400012);
    return { password: rec.password, apply_time: rec.apply_time,
      list: rec.doors.map((d) => ({ door_guid: d.door_guid, door_name: d.door_name, status: d.online ? '1' : '0',
        message: d.online ? '未使用' : '门口机离线', use_time: '' })) };
  } },
  { method: 'GET', path: '/sdkapi/v1/card/card_list', required: ['room_id'], auth: 'user', handler: (ctx) => {
    const room = ownRoom(ctx, ctx.p.room_id);
    return ctx.w.cards.filter((c) => c.room_id === room.room_number_id).map((c) => pick(c, ['dep_name', 'owner_name',
      'start_time', 'end_time', 'status_code', 'status_info', 'card_number', 'card_type', 'card_type_info', 'remark', 'memo']));
  } },

  // Notices and visitors.
  { method: 'GET', path: '/sdkapi/v1/message/notice', required: ['start_page', 'page_no'], auth: 'user', handler: (ctx) => {
    const w = ctx.w;
    const deps = w.user.rooms.map((id) => W.roomPlace(w, W.roomById(w, id)).dep.dep_id);
    let list = w.notices.filter((n) => deps.includes(n.dep_id));
    if (ctx.p.room_id !== undefined) {
      ownRoom(ctx, ctx.p.room_id);
      list = list.filter((n) => n.room_id === '' || n.room_id === ctx.p.room_id);
    }
    return page(list, ctx.p).map((n) => noticeRecord(w, n));
  } },
  { method: 'GET', path: '/sdkapi/v1/message/notice_detail', required: ['notice_id'], auth: 'user', handler: (ctx) => {
    const n = ctx.w.notices.find((x) => x.notice_id === ctx.p.notice_id);
    if (!n) throw refuse(400400, '公告不存在');
    return noticeRecord(ctx.w, n);
  } },
  { method: 'GET', path: '/sdkapi/v1/visitor/user_visitors', required: ['room_id', 'open_type', 'start_page', 'page_no'], auth: 'user',
    handler: (ctx) => visitors(ctx, (v) => v.user_id === ctx.w.user.user_id) },
  { method: 'GET', path: '/sdkapi/v1/visitor/room_visitors', required: ['room_id', 'open_type', 'start_page', 'page_no'], auth: 'user',
    handler: (ctx) => visitors(ctx, () => true) },

  // Authorisations.
  { method: 'POST', path: '/sdkapi/v1/auth/add', required: ['nation_code', 'name', 'auth_mobile', 'room_id', 'auth_type', 'begin_time', 'end_time'],
    auth: 'user', handler: (ctx) => {
      const w = ctx.w; const p = ctx.p;
      const room = ownRoom(ctx, p.room_id);
      const own = w.auths.filter((a) => a.room_id === room.room_number_id);
      if (own.length >= Number(w.auth_upper_limit)) throw refuse(400010, '授权人数已达上限');
      w.counters.auth += 1;
      w.auths.push({ auth_user_id: String(w.counters.auth), room_id: room.room_number_id, auth_user_mobile: p.auth_mobile,
        auth_user_name: p.name, begin_time: p.begin_time, end_time: p.end_time, is_no_limit: '0', auth_type: p.auth_type,
        auth_type_info: p.auth_type === '1' ? '租客' : '家属', nation_code: p.nation_code });
    } },
  { method: 'POST', path: '/sdkapi/v1/auth/modify', required: ['auth_user_id', 'name', 'room_id', 'auth_type', 'begin_time', 'end_time'],
    auth: 'user', handler: (ctx) => {
      const p = ctx.p;
      ownRoom(ctx, p.room_id);
      const a = findAuth(ctx, p.room_id, p.auth_user_id);
      Object.assign(a, { auth_user_name: p.name, auth_type: p.auth_type, begin_time: p.begin_time, end_time: p.end_time });
    } },
  { method: 'POST', path: '/sdkapi/v1/auth/delete', required: ['room_id', 'auth_user_id'], auth: 'user', handler: (ctx) => {
    ownRoom(ctx, ctx.p.room_id);
    const a = findAuth(ctx, ctx.p.room_id, ctx.p.auth_user_id);
    ctx.w.auths.splice(ctx.w.auths.indexOf(a), 1);
  } },
  { method: 'POST', path: '/sdkapi/v1/auth/stop', required: ['room_id'], auth: 'user', handler: (ctx) => {
    const room = ownRoom(ctx, ctx.p.room_id);
    ctx.w.auths = ctx.w.auths.filter((a) => a.room_id !== room.room_number_id);
  } },
  { method: 'GET', path: '/sdkapi/v1/auth/lists', required: ['room_id', 'page_no', 'start_page'], auth: 'user', handler: (ctx) => {
    const room = ownRoom(ctx, ctx.p.room_id);
    const all = ctx.w.auths.filter((a) => a.room_id === room.room_number_id);
    return { upper_limit: ctx.w.auth_upper_limit, auth_list_number: String(all.length), list: page(all, ctx.p).map(authRecord) };
  } },

  // Property messages.
  { method: 'POST', path: '/sdkapi/v1/property/publish_message', required: ['room_id', 'tag_type'], auth: 'user', handler: (ctx) => {
    const p = ctx.p;
    if (!p.content && !p.images_name) throw refuse(400400);
    const room = ownRoom(ctx, p.room_id);
    const dep = W.roomPlace(ctx.w, room).dep;
    ctx.w.property_messages.unshift({ dep_id: dep.dep_id, room_id: room.room_number_id, content: p.content || '',
      photos_name: p.images_name ? String(p.images_name).split(',') : [], tag_type: p.tag_type,
      tag_type_info: p.tag_type === '1' ? '报修' : '咨询', user_id: ctx.w.user.user_id, status: '1',
      create_time: W.stamp(ctx.now), reply_list: [] });
  } },
  { method: 'GET', path: '/sdkapi/v1/property/message_list', required: ['page_no', 'start_page', 'dep_id'], auth: 'user', handler: (ctx) =>
    page(ctx.w.property_messages.filter((m) => m.dep_id === ctx.p.dep_id && m.user_id === ctx.w.user.user_id), ctx.p)
      .map((m) => pick(m, ['content', 'photos_name', 'tag_type', 'tag_type_info', 'user_id', 'status', 'create_time', 'reply_list'])) },

  // Estate search and self-authentication.
  { method: 'GET', path: '/sdkapi/v1/estate/department_search', required: ['keyword'], auth: 'user', handler: (ctx) => {
    const w = ctx.w;
    return page(w.departments.filter((d) => matches(d.dep_name, ctx.p.keyword)), ctx.p).map((d) => {
      const c = W.cityOf(w, d);
      return { city_id: c.city_id, city_name: c.city_name, dep_id: d.dep_id, dep_name: d.dep_name,
        province_name: c.province_name, district_name: d.district_name };
    });
  } },
  { method: 'GET', path: '/sdkapi/v1/estate/city', required: [], auth: 'user', handler: (ctx) =>
    page(ctx.w.cities.filter((c) => matches(c.city_name, ctx.p.keyword)), ctx.p).map((c) => pick(c, ['city_id', 'city_name'])) },
  { method: 'GET', path: '/sdkapi/v1/estate/department_list', required: ['city_id'], auth: 'user', handler: (ctx) =>
    page(ctx.w.departments.filter((d) => d.city_id === ctx.p.city_id && matches(d.dep_name, ctx.p.keyword)), ctx.p)
      .map((d) => pick(d, ['dep_id', 'dep_name'])) },
  { method: 'GET', path: '/sdkapi/v1/estate/building_unit', required: ['dep_id'], auth: 'user', handler: (ctx) => {
    const w = ctx.w;
    const rows = [];
    for (const b of w.buildings.filter((x) => x.dep_id === ctx.p.dep_id)) {
      for (const u of w.units.filter((x) => x.building_id === b.building_id)) {
        const full = `${b.building_name}${u.unit_name}`;
        if (matches(full, ctx.p.keyword)) {
          rows.push({ building_id: b.building_id, building_no: b.building_no, building_name: b.building_name,
            unit_id: u.unit_id, unit_no: u.unit_no, unit_name: u.unit_name, full_name: full });
        }
      }
    }
    return page(rows, ctx.p);
  } },
  { method: 'GET', path: '/sdkapi/v1/estate/room_number', required: ['unit_id'], auth: 'user', handler: (ctx) =>
    page(ctx.w.rooms.filter((r) => r.unit_id === ctx.p.unit_id && matches(r.room_number, ctx.p.keyword)), ctx.p)
      .map((r) => pick(r, ['room_number_id', 'room_number', 'is_open_card'])) },
  { method: 'GET', path: '/sdkapi/v1/selfauth/record', required: [], auth: 'user', handler: (ctx) =>
    page(ctx.w.self_auth_records, ctx.p) },
  { method: 'GET', path: '/sdkapi/v1/selfauth/apply', auth: 'user',
    required: ['room_number_id', 'city_id', 'dep_id', 'real_name', 'mobile_no', 'self_help_status', 'auth_type', 'card_img1',
      'card_img2', 'card_img3', 'card_no', 'card_name', 'nation', 'address', 'government', 'validity', 'nation_code'],
    handler: (ctx) => {
      const w = ctx.w; const p = ctx.p;
      const room = W.roomById(w, p.room_number_id);
      if (!room) throw refuse(400015);
      const { unit, building, dep } = W.roomPlace(w, room);
      if (dep.dep_id !== p.dep_id || dep.city_id !== p.city_id) throw refuse(400400, '小区或城市不匹配');
      w.self_auth_records.unshift({ apply_time: W.stamp(ctx.now), status_code: '1', status_info: '审核中',
        mobile_no: p.mobile_no, apply_person: p.real_name, apply_identity: p.auth_type === '1' ? '业主' : '家属',
        city_name: W.cityOf(w, dep).city_name, dep_name: dep.dep_name,
        room_full_name: `${dep.dep_name}${building.building_name}${unit.unit_name}${room.room_number}`,
        self_help_status: p.self_help_status, review_reason: '', verification_code: '' });
    } },

  // Older operations with relative paths (the family call among them).
  { method: 'POST', path: '/v1/call', required: ['from_room_id', 'call_type'], auth: 'token', handler: familyCall },
  { method: 'POST', path: '/v1/push/binding', required: ['device_token'], auth: 'token', handler: (ctx) => {
    if (!ctx.w.push_tokens.includes(ctx.p.device_token)) ctx.w.push_tokens.push(ctx.p.device_token);
  } },
  { method: 'POST', path: '/v1/push/unbinding', required: ['device_token'], auth: 'token', handler: (ctx) => {
    ctx.w.push_tokens = ctx.w.push_tokens.filter((t) => t !== ctx.p.device_token);
  } },
  { method: 'GET', path: '/v1/user/info', required: [], auth: 'token', handler: userRecord },
  { method: 'GET', path: '/v1/all/department', required: [], auth: 'token', handler: (ctx) =>
    ctx.w.departments.map((d) => ({ department_id: d.dep_id, department_name: d.dep_name })) },
  { method: 'GET', path: '/v1/building', required: ['department_id'], auth: 'token', handler: (ctx) =>
    ctx.w.buildings.filter((b) => b.dep_id === ctx.p.department_id).map((b) => pick(b, ['building_id', 'building_name'])) },
  { method: 'GET', path: '/v1/unit', required: ['building_id'], auth: 'token', handler: (ctx) =>
    ctx.w.units.filter((u) => u.building_id === ctx.p.building_id).map((u) => pick(u, ['unit_id', 'unit_name'])) },
  { method: 'GET', path: '/v1/room', required: ['unit_id'], auth: 'token', handler: (ctx) =>
    ctx.w.rooms.filter((r) => r.unit_id === ctx.p.unit_id).map((r) => ({ room_id: r.room_number_id, room_number: r.room_number })) },
  { method: 'POST', path: '/v1/user/disturb', required: ['call_status'], auth: 'token', handler: (ctx) => {
    ctx.w.disturb.call_status = ctx.p.call_status;
    return { call_status: ctx.p.call_status, forwarding_status: ctx.p.forwarding_status || '0' };
  } },
  { method: 'GET', path: '/v1/user/rooms', required: [], auth: 'token', handler: (ctx) =>
    ctx.w.user.rooms.map((id) => W.roomInfo(ctx.w, W.roomById(ctx.w, id))) },
  { method: 'POST', path: '/v1/rooms/disturb', required: ['room_id', 'call_status'], auth: 'token', handler: (ctx) => {
    const room = ownRoom(ctx, ctx.p.room_id);
    room.disturb.call_status = ctx.p.call_status;
    return { room_id: room.room_number_id, call_status: ctx.p.call_status, forwarding_status: ctx.p.forwarding_status || '0' };
  } },
  { method: 'POST', path: '/pxs/community/v2/new_push/call', required: ['cmd', 'room_id'], auth: 'token', handler: () => undefined },
  { method: 'POST', path: '/v1/doors/open', required: ['door_id', 'room_id'], auth: 'token', handler: (ctx) => {
    const door = doorOfRoom(ctx, ownRoom(ctx, ctx.p.room_id), ctx.p.door_id);
    if (door.is_online !== '1') throw refuse(40009);
  } },
  { method: 'POST', path: '/v1/doors/password', required: ['room_id'], auth: 'token', handler: (ctx) =>
    doorPassword(ctx, ownRoom(ctx, ctx.p.room_id)) },
  { method: 'GET', path: '/v1/visitor_log', required: ['room_id'], auth: 'token', handler: (ctx) => {
    const room = ownRoom(ctx, ctx.p.room_id);
    return page(ctx.w.visitors.filter((v) => v.room_id === room.room_number_id), ctx.p).map(visitorRecord);
  } },
  { method: 'GET', path: '/v1/caller/photo', required: ['door_sip_no'], auth: 'token', image: true, handler: () => PHOTO_PNG },
];

function noticeRecord(w, n) {
  const dep = w.departments.find((d) => d.dep_id === n.dep_id);
  return Object.assign(pick(n, ['notice_id', 'title', 'content', 'content_remark', 'publisher', 'is_urgent', 'is_top',
    'add_time', 'is_system']), { dep_name: dep ? dep.dep_name : '' });
}

function visitors(ctx, filter) {
  const room = ownRoom(ctx, ctx.p.room_id);
  const type = ctx.p.open_type;
  // open_type 0 asks for every kind of opening.
  const list = ctx.w.visitors.filter((v) => v.room_id === room.room_number_id && filter(v) &&
    (type === '0' || v.open_type === type));
  return page(list, ctx.p).map(visitorRecord);
}

function findOp(path) {
  return OPS.filter((o) => o.path === path);
}

module.exports = { OPS, MESSAGES, PlatformError, findOp, refuse, storageCredentials, userRecord };
