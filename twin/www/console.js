// The twin's console: logs in through the session daemon and reads the machine over JSON-RPC at /ubus, as a
// front end of the machine does. Every request is a "transfer" call carrying the service's request text.
'use strict';

const NO_SESSION = '00000000000000000000000000000000';
const REFRESH_MS = 3000;
const CHART_SECONDS = 600;
const SENSORS = ['outlet_temp1', 'inlet_temp2', 'outlet_temp2', 'inlet_temp1'];

let session = NO_SESSION;
let nextId = 1;
let timer = null;
let pools = [];
const history = { 1: [], 2: [], 3: [], 4: [] };  // [seconds, hottest m°C] per board

const $ = (id) => document.getElementById(id);

class Refused extends Error {}

async function rpc(object, method, args) {
  const reply = await fetch('/ubus', {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({ jsonrpc: '2.0', id: nextId++, method: 'call', params: [session, object, method, args] }),
  });
  const answer = await reply.json();
  if (answer.error) throw new Refused(answer.error.message);
  if (answer.result[0] !== 0) throw new Error(`${object}.${method}: status ${answer.result[0]}`);
  return answer.result[1] || {};
}

// One request to a service of the machine; the parsed reply text.
async function transfer(object, key, action, body = {}) {
  const reply = await rpc(object, 'transfer', { sendmsg: JSON.stringify({ key, action, body }) });
  const parsed = JSON.parse(reply.resp);
  if (parsed.code !== 0) throw new Error(`${key} ${action}: ${parsed.error}`);
  return parsed.body;
}

function element(tag, attributes = {}, text = '') {
  const e = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) e.setAttribute(name, value);
  e.textContent = text;
  return e;
}

function fillList(list, entries) {
  list.replaceChildren();
  for (const [label, value, id] of entries) {
    list.append(element('dt', {}, label), element('dd', id ? { id } : {}, value));
  }
}

const degrees = (milli) => (milli === '' || milli === undefined ? '–' : (Number(milli) / 1000).toFixed(1));

function chart(board) {
  const points = history[board];
  const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
  svg.setAttribute('viewBox', '0 0 300 70');
  svg.setAttribute('preserveAspectRatio', 'none');
  svg.id = `chart-hb${board}`;
  if (points.length === 0) return svg;
  const now = points[points.length - 1][0];
  const values = points.map((p) => p[1]);
  const low = Math.floor(Math.min(...values) / 5000) * 5 - 5;
  const high = Math.ceil(Math.max(...values) / 5000) * 5 + 5;
  // the time axis grows with the history, from one minute up to CHART_SECONDS
  const span = Math.min(CHART_SECONDS, Math.max(60, now - points[0][0]));
  const x = (t) => 300 - ((now - t) / span) * 300;
  const y = (m) => 65 - ((m / 1000 - low) / (high - low)) * 60;
  const line = document.createElementNS(svg.namespaceURI, 'polyline');
  line.setAttribute('points', points.map(([t, m]) => `${x(t).toFixed(1)},${y(m).toFixed(1)}`).join(' '));
  svg.append(line);
  for (const [text, left, top, anchor] of [[`${high} °C`, 2, 9, 'start'], [`${low} °C`, 2, 67, 'start'],
                                           [`last ${Math.round(span / 60)} min`, 298, 67, 'end']]) {
    const label = document.createElementNS(svg.namespaceURI, 'text');
    label.setAttribute('x', left);
    label.setAttribute('y', top);
    label.setAttribute('text-anchor', anchor);
    label.setAttribute('class', 'axis');
    label.textContent = text;
    svg.append(label);
  }
  return svg;
}

function showBoards(body) {
  const now = Date.now() / 1000;
  const container = $('boards');
  container.replaceChildren();
  for (let board = 1; board <= 4; board++) {
    const readings = body[`hash_board${board}`] || {};
    const present = SENSORS.map((s) => readings[s]).filter((v) => v !== undefined && v !== '').map(Number);
    if (present.length) history[board].push([now, Math.max(...present)]);
    while (history[board].length && history[board][0][0] < now - CHART_SECONDS) history[board].shift();
    const card = element('div', { class: 'board', id: `hb${board}` });
    card.append(element('h3', {}, `Board ${board}`));
    const table = element('table');
    for (const sensor of SENSORS) {
      const row = element('tr');
      row.append(element('td', {}, sensor.replace('_temp', ' ')));
      row.append(element('td', { class: 'temp', id: `hb${board}-${sensor}`, 'data-millideg': readings[sensor] ?? '' },
                         degrees(readings[sensor])));
      table.append(row);
    }
    card.append(table, chart(board));
    container.append(card);
  }
}

function showPower(body) {
  const p = body.power || {};
  const volts = p.power_vol === '' ? '–' : (Number(p.power_vol) / 100).toFixed(2);
  fillList($('power'), [
    ['Output voltage (V)', volts, 'power-voltage'],
    ['Output current (A)', p.power_cur || '–', 'power-current'],
    ['Output power (W)', p.output_p || '–'],
    ['Input voltage', p.input_vol || '–'],
    ['Temperature', p.power_temp || '–'],
    ['Model', `${p.power_model || '–'} ${p.power_ver || ''}`],
    ['Serial number', p.power_sn || '–'],
  ]);
}

function showFans(duty, rpm) {
  const d = duty['fans.duty'] || {};
  const r = rpm.fans || {};
  fillList($('fans'), [
    ['Inlet duty (%)', d.inlet ?? '–', 'fan-inlet-duty'],
    ['Outlet duty (%)', d.outlet ?? '–', 'fan-outlet-duty'],
    ['Inlet speed (rpm)', r.inlet ?? '–', 'fan-inlet-rpm'],
    ['Outlet speed (rpm)', r.outlet ?? '–', 'fan-outlet-rpm'],
  ]);
}

function showIdentity(base) {
  fillList($('identity'), [
    ['Model', base.type_name, 'dev-type'],
    ['Serial number', base.dev_sn, 'dev-sn'],
    ['Software', base.sw_version, 'dev-sw'],
    ['Hardware', base.hw_version, 'dev-hw'],
  ]);
}

function showErrors(aging, errnoLog) {
  const codes = (aging.err_5 || []).join(', ') || 'none';
  const reported = (errnoLog.errno || []).map((code, i) =>
    `${code} (${new Date((errnoLog.errts[i] || 0) * 1000).toISOString().replace('T', ' ').slice(0, 19)})`);
  fillList($('errors'), [
    ['Device error list', codes, 'errors-device'],
    ['Reported errors', reported.join(', ') || 'none', 'errors-reported'],
  ]);
}

function showPools(list) {
  pools = list;
  const rows = $('pools').tBodies[0];
  rows.replaceChildren();
  list.forEach((pool, i) => {
    const row = element('tr', { id: `pool${i + 1}` });
    row.append(element('td', {}, String(i + 1)), element('td', {}, pool.url), element('td', {}, pool.user),
               element('td', { class: 'masked' }, pool.pass ? '••••••' : ''));
    rows.append(row);
  });
  // the form is filled once, so a refresh never overwrites what the user is typing
  const inputs = $('pools-inputs');
  if (inputs.childElementCount) return;
  list.forEach((pool, i) => {
    const n = i + 1;
    const line = element('div', { class: 'pool' });
    line.append(element('span', {}, String(n)),
                element('input', { id: `pool${n}-url`, placeholder: 'stratum+tcp://host:port', value: pool.url }),
                element('input', { id: `pool${n}-user`, placeholder: 'user', value: pool.user }),
                element('input', { id: `pool${n}-pass`, type: 'password', placeholder: 'password' }));
    inputs.append(line);
  });
}

// Refreshes run one after the other, so a reading older than a change never overwrites its result.
let refreshing = Promise.resolve();
function refresh() {
  refreshing = refreshing.then(readMachine);
  return refreshing;
}

async function readMachine() {
  if (session === NO_SESSION) return;
  try {
    const [boards, power, duty, rpm, poolList, base, aging, errnoLog] = await Promise.all([
      transfer('hwmond', 'hash_boards.all', 'get'),
      transfer('hwmond', 'power.all', 'get'),
      transfer('hwmond', 'fans.duty', 'get'),
      transfer('hwmond', 'fans.rpm', 'get'),
      transfer('Setting', 'pools', 'get'),
      transfer('Setting', 'dev.base', 'get'),
      transfer('Setting', 'dev.aging', 'get'),
      transfer('Setting', 'dev.errno', 'get'),
    ]);
    showBoards(boards);
    showPower(power);
    showFans(duty, rpm);
    showPools(poolList.pools || []);
    showIdentity(base);
    showErrors(aging, errnoLog);
    $('status').textContent = `updated ${new Date().toLocaleTimeString()}`;
  } catch (e) {
    if (e instanceof Refused) return logout(`Session ended (${e.message}); log in again.`);
    $('status').textContent = `update failed: ${e.message}`;
  }
}

function logout(message = '') {
  clearInterval(timer);
  timer = null;
  session = NO_SESSION;
  $('console').hidden = true;
  $('logout').hidden = true;
  $('login').hidden = false;
  $('login-error').textContent = message;
}

$('login').addEventListener('submit', async (event) => {
  event.preventDefault();
  $('login-error').textContent = '';
  session = NO_SESSION;
  try {
    const reply = await rpc('session', 'login', { username: $('username').value, password: $('password').value });
    session = reply.ubus_rpc_session;
  } catch (e) {
    $('login-error').textContent = 'Wrong user or password.';
    return;
  }
  $('password').value = '';
  $('login').hidden = true;
  $('console').hidden = false;
  $('logout').hidden = false;
  await refresh();
  timer = setInterval(refresh, REFRESH_MS);
});

$('logout').addEventListener('click', () => logout());

$('pools-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const pools_data = pools.map((pool, i) => {
    const n = i + 1;
    const pass = $(`pool${n}-pass`).value;
    return { url: $(`pool${n}-url`).value, user: $(`pool${n}-user`).value, pass: pass === '' ? pool.pass : pass };
  });
  try {
    await transfer('Setting', 'pools', 'set', { pools_data });
    for (let n = 1; n <= pools_data.length; n++) $(`pool${n}-pass`).value = '';
    $('pools-result').textContent = 'saved';
    await refresh();
  } catch (e) {
    $('pools-result').textContent = `not saved: ${e.message}`;
  }
});
