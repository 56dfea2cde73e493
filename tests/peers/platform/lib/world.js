'use strict';
// The stand-in's in-memory world: one application, one resident with two
// rooms in a small estate, and everything hanging off them. Plain JSON so the
// admin endpoint can dump it and merge changes into it.

const { CONSTANTS } = require('./crypto');

function stamp(date) {
  const p = (n) => String(n).padStart(2, '0');
  return `${date.getFullYear()}-${p(date.getMonth() + 1)}-${p(date.getDate())} ` +
    `${p(date.getHours())}:${p(date.getMinutes())}:${p(date.getSeconds())}`;
}

function createWorld(opts) {
  const o = opts || {};
  return {
    app: {
      app_id: o.appId || CONSTANTS.test_app_id,
      secret: o.secret || CONSTANTS.test_secret,
      app_name: 'Pellix测试应用',
    },
    user: {
      user_id: '10001',
      open_id: 'px-open-10001',
      nation_code: '86',
      mobile_no: '13800138000',
      name: '张三',
      sip_no: '1000101',
      sip_password: 'sip-pass-10001',
      rooms: ['5001', '5003'],
    },
    cities: [
      { city_id: '4403', city_name: '深圳市', province_name: '广东省' },
      { city_id: '4401', city_name: '广州市', province_name: '广东省' },
      { city_id: '1101', city_name: '北京市', province_name: '北京市' },
    ],
    departments: [
      { dep_id: '201', dep_name: '翠湖花园', city_id: '4403', district_name: '南山区', management_phone: '0755-86001234' },
      { dep_id: '202', dep_name: '望海苑', city_id: '4403', district_name: '福田区', management_phone: '0755-86005678' },
      { dep_id: '203', dep_name: '珠江新村', city_id: '4401', district_name: '天河区', management_phone: '020-38001234' },
    ],
    buildings: [
      { building_id: '301', building_no: '1', building_name: '1栋', dep_id: '201' },
      { building_id: '302', building_no: '2', building_name: '2栋', dep_id: '201' },
      { building_id: '303', building_no: '1', building_name: 'A座', dep_id: '202' },
    ],
    units: [
      { unit_id: '401', unit_no: '1', unit_name: '1单元', building_id: '301' },
      { unit_id: '402', unit_no: '1', unit_name: '1单元', building_id: '302' },
      { unit_id: '403', unit_no: '1', unit_name: '1单元', building_id: '303' },
    ],
    rooms: [
      { room_number_id: '5001', room_number: '101', unit_id: '401', autu_type: '1', is_open_card: '1',
        owner_mobile: ['13800138000'], sip_list: ['1000101', '1000111'],
        transfer: { set_permission: '1', nation_code: '86', transfer_mobile: '' },
        disturb: { app_status: '0', call_status: '0' } },
      { room_number_id: '5002', room_number: '102', unit_id: '401', autu_type: '1', is_open_card: '0',
        owner_mobile: ['13700137000'], sip_list: ['1000201'],
        transfer: { set_permission: '1', nation_code: '86', transfer_mobile: '' },
        disturb: { app_status: '0', call_status: '0' } },
      { room_number_id: '5003', room_number: '201', unit_id: '402', autu_type: '2', is_open_card: '0',
        owner_mobile: ['13600136000', '13600136001'], sip_list: ['1000101', '1000301'],
        transfer: { set_permission: '0', nation_code: '86', transfer_mobile: '' },
        disturb: { app_status: '0', call_status: '0' } },
      { room_number_id: '5004', room_number: '301', unit_id: '403', autu_type: '1', is_open_card: '0',
        owner_mobile: ['13500135000'], sip_list: ['1000401'],
        transfer: { set_permission: '1', nation_code: '86', transfer_mobile: '' },
        disturb: { app_status: '0', call_status: '0' } },
    ],
    doors: [
      { door_id: '7001', door_name: '南大门', door_guid: 'D7A1C0DE-0000-4000-8000-000000007001', door_sip_no: '8007001',
        ssid: 'PX-GATE-7001', ssid_secretkey: '3f2a7c9e1b4d6f80', ssid_pwd: 'gate7001pwd', door_type: '1',
        is_support_token: '1', totp_token: 'JBSWY3DPEHPK3PXP', totp_pin_length: '6', totp_expires_time: '360',
        is_online: '1', door_version_type: '2', door_version_describe: 'V2门口机', dep_id: '201', unit_id: '' },
      { door_id: '7002', door_name: '1栋1单元门', door_guid: 'D7A1C0DE-0000-4000-8000-000000007002', door_sip_no: '8007002',
        ssid: 'PX-UNIT-7002', ssid_secretkey: '9c8b7a6f5e4d3c2b', ssid_pwd: 'unit7002pwd', door_type: '2',
        is_support_token: '0', totp_token: '', totp_pin_length: '6', totp_expires_time: '360',
        is_online: '1', door_version_type: '1', door_version_describe: 'V1门口机', dep_id: '201', unit_id: '401' },
      { door_id: '7003', door_name: '2栋1单元门', door_guid: 'D7A1C0DE-0000-4000-8000-000000007003', door_sip_no: '8007003',
        ssid: 'PX-UNIT-7003', ssid_secretkey: '0a1b2c3d4e5f6071', ssid_pwd: 'unit7003pwd', door_type: '2',
        is_support_token: '1', totp_token: 'KRUGKIDROVUWG2ZA', totp_pin_length: '6', totp_expires_time: '360',
        is_online: '0', door_version_type: '2', door_version_describe: 'V2门口机', dep_id: '201', unit_id: '402' },
    ],
    aliases: {},
    key_order: {},
    is_bluetooth: '1',
    notices: [
      { notice_id: '9001', title: '停水通知', content: '本周六9:00-12:00停水检修。', content_remark: '请提前储水',
        publisher: '物业服务中心', is_urgent: '1', is_top: '1', add_time: '2026-12-01 09:00:00', is_system: '0', dep_id: '201', room_id: '' },
      { notice_id: '9002', title: '电梯保养', content: '1栋电梯周三保养。', content_remark: '',
        publisher: '物业服务中心', is_urgent: '0', is_top: '0', add_time: '2026-12-02 10:30:00', is_system: '0', dep_id: '201', room_id: '5001' },
      { notice_id: '9003', title: '系统升级', content: '门禁系统将于今晚升级。', content_remark: '',
        publisher: '平台', is_urgent: '0', is_top: '0', add_time: '2026-12-03 20:00:00', is_system: '1', dep_id: '201', room_id: '' },
    ],
    visitors: [
      { id: '60001', open_type: '1', open_type_info: 'APP开门', description: '张三通过APP开门', thumbnail_url: 'caller/thumb/60001.jpg',
        img_url: 'caller/img/60001.jpg', is_connect: '1', timestamp: '1764986400', room_id: '5001', door_guid: 'D7A1C0DE-0000-4000-8000-000000007001',
        date: '2026-12-06', time: '10:00:00', user_name: '张三', door_name: '南大门', owner_type: '1', user_id: '10001' },
      { id: '60002', open_type: '2', open_type_info: '呼叫开门', description: '访客呼叫开门', thumbnail_url: 'caller/thumb/60002.jpg',
        img_url: 'caller/img/60002.jpg', is_connect: '0', timestamp: '1764990000', room_id: '5001', door_guid: 'D7A1C0DE-0000-4000-8000-000000007002',
        date: '2026-12-06', time: '11:00:00', user_name: '访客', door_name: '1栋1单元门', owner_type: '3', user_id: '' },
      { id: '60003', open_type: '1', open_type_info: 'APP开门', description: '李四通过APP开门', thumbnail_url: 'caller/thumb/60003.jpg',
        img_url: 'caller/img/60003.jpg', is_connect: '1', timestamp: '1764993600', room_id: '5003', door_guid: 'D7A1C0DE-0000-4000-8000-000000007003',
        date: '2026-12-06', time: '12:00:00', user_name: '李四', door_name: '2栋1单元门', owner_type: '2', user_id: '10002' },
    ],
    auths: [
      { auth_user_id: '11001', room_id: '5001', auth_user_mobile: '13900139000', auth_user_name: '李四', begin_time: '2026-12-01 00:00',
        end_time: '2027-12-01 00:00', is_no_limit: '0', auth_type: '2', auth_type_info: '家属', nation_code: '86' },
    ],
    auth_upper_limit: '10',
    passwords: [],
    cards: [
      { room_id: '5001', dep_name: '翠湖花园', owner_name: '张三', start_time: '2026-01-01', end_time: '2027-01-01', status_code: '1',
        status_info: '正常', card_number: 'A1B2C3D4', card_type: '1', card_type_info: 'IC卡', remark: '', memo: '' },
    ],
    property_messages: [
      { dep_id: '201', room_id: '5001', content: '楼道灯坏了', photos_name: [], tag_type: '1', tag_type_info: '报修',
        user_id: '10001', status: '2', create_time: '2026-12-04 08:00:00',
        reply_list: [{ message: '已安排维修', create_time: '2026-12-04 09:00:00' }] },
    ],
    self_auth_records: [
      { apply_time: '2026-11-20 15:00:00', status_code: '2', status_info: '已通过', mobile_no: '13800138000', apply_person: '张三',
        apply_identity: '业主', city_name: '深圳市', dep_name: '翠湖花园', room_full_name: '翠湖花园1栋1单元101',
        self_help_status: '1', review_reason: '', verification_code: '' },
    ],
    disturb: { app_status: '0', call_status: '0' },
    transfer_numbers: '13900000001,13900000002',
    push_tokens: [],
    registered: [],
    counters: { auth: 11001, password: 8000, transaction: 0 },
  };
}

// Lookup helpers over a world.
function roomById(w, id) {
  return w.rooms.find((r) => r.room_number_id === String(id));
}
function unitOf(w, room) { return w.units.find((u) => u.unit_id === room.unit_id); }
function buildingOf(w, unit) { return w.buildings.find((b) => b.building_id === unit.building_id); }
function depOf(w, building) { return w.departments.find((d) => d.dep_id === building.dep_id); }
function cityOf(w, dep) { return w.cities.find((c) => c.city_id === dep.city_id); }

function roomPlace(w, room) {
  const unit = unitOf(w, room);
  const building = buildingOf(w, unit);
  const dep = depOf(w, building);
  return { unit, building, dep };
}

function roomInfo(w, room) {
  const { unit, building, dep } = roomPlace(w, room);
  return {
    dep_id: dep.dep_id, dep_name: dep.dep_name,
    building_id: building.building_id, building_name: building.building_name,
    unit_id: unit.unit_id, unit_name: unit.unit_name,
    room_number_id: room.room_number_id, room_number: room.room_number,
    autu_type: room.autu_type,
    authorization_number: String(w.auths.filter((a) => a.room_id === room.room_number_id).length),
    open_card_number: String(w.cards.filter((c) => c.room_id === room.room_number_id).length),
    room_full_name: `${dep.dep_name}${building.building_name}${unit.unit_name}${room.room_number}`,
  };
}

// Doors a room's resident may open: the community's gates and the room's unit door.
function doorsOfRoom(w, room) {
  const { dep } = roomPlace(w, room);
  const doors = w.doors.filter((d) => d.dep_id === dep.dep_id && (d.unit_id === '' || d.unit_id === room.unit_id));
  const order = w.key_order[room.room_number_id];
  if (!order) return doors;
  const rank = (d) => { const i = order.indexOf(d.door_id); return i < 0 ? order.length : i; };
  return doors.slice().sort((a, b) => rank(a) - rank(b));
}

function keyInfo(w, door) {
  return {
    door_id: door.door_id, door_name: door.door_name, door_alias: w.aliases[door.door_id] || '',
    door_guid: door.door_guid, door_sip_no: door.door_sip_no, ssid: door.ssid,
    ssid_secretkey: door.ssid_secretkey, ssid_pwd: door.ssid_pwd, door_type: door.door_type,
    is_support_token: door.is_support_token, totp_token: door.totp_token, totp_pin_length: door.totp_pin_length,
    totp_expires_time: door.totp_expires_time, is_online: door.is_online,
    door_version_type: door.door_version_type, door_version_describe: door.door_version_describe,
  };
}

function topicOf(roomId) {
  return `app/room_id/${roomId}`;
}

module.exports = {
  createWorld, stamp, roomById, roomPlace, roomInfo, doorsOfRoom, keyInfo, topicOf, cityOf,
};
