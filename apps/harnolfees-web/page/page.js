// The browser editor's page: it draws the state the session publishes and
// sends every operator action back to it. The control's rules live in the
// program; this file only mirrors and forwards.
const $ = (id) => document.getElementById(id);
const ROW = 22; // grid row height in pixels
const BLOCK = 100; // grid rows fetched at once
const px = (twips) => Math.round(twips / 15);
const pxWide = (twips) => Math.round(twips / 12); // across: room for today's larger fonts
const domId = (name) => name.replace(/\((\d+)\)/, '-$1'); // "txtField(3)" -> "txtField-3"

let state = null;
let version = 0;
let signedIn = false;
let queue = Promise.resolve();
let shownMessage = 0;
let lastFocusSeq = 0;
const dirty = new Set(); // text boxes typed into since the last action
const rows = new Map(); // grid row -> cells, for state.gridGen
let rowsGen = -1;
const pending = new Set();
let formBuilt = false;

// ---- Requests ----

async function send(path, params) {
  const headers = { 'X-HF-Request': '1', 'Content-Type': 'application/x-www-form-urlencoded' };
  if (state) headers['X-HF-CSRF'] = state.csrf;
  const res = await fetch(path, { method: 'POST', headers, body: new URLSearchParams(params), credentials: 'same-origin' });
  if (res.status === 401) { showSignIn('Your session has ended; sign in again.'); return null; }
  const body = await res.json();
  if (!res.ok) { if (body.error) $('status').textContent = body.error; return null; }
  return body;
}

// The rows in view, asked for with every state: a new grid comes with them.
function windowParams() {
  const g = $('grdFees');
  if (!g || !state) return {};
  return { vf: Math.max(1, Math.floor(g.scrollTop / ROW) + 1), vc: Math.ceil(g.clientHeight / ROW) + 2 };
}

// Actions go one at a time, in order, each with what was typed.
function act(params) {
  queue = queue.then(async () => {
    if (!signedIn || (state && state.message)) return;
    const p = { ...params, ...windowParams() };
    for (const i of dirty) p['t' + i] = $('txtField-' + i).value;
    dirty.clear();
    const s = await send('/api/action', p);
    if (s) apply(s);
  }).catch((e) => { $('status').textContent = String(e); });
  return queue;
}

async function poll() {
  while (signedIn) {
    try {
      const view = new URLSearchParams({ since: version, ...windowParams() });
      const res = await fetch('/api/events?' + view, { credentials: 'same-origin' });
      if (res.status === 401) { showSignIn('Your session has ended; sign in again.'); return; }
      if (res.ok) apply(await res.json());
    } catch (e) {
      await new Promise((r) => setTimeout(r, 1000));
    }
  }
}

// ---- Sign-in ----

function showSignIn(why) {
  signedIn = false;
  state = null;
  version = 0;
  $('editor').hidden = true;
  $('signin').hidden = false;
  $('signinError').textContent = why || '';
  document.title = 'HarnolFeesCenter';
  $('user').focus();
}

async function signIn(event) {
  event.preventDefault();
  $('signinError').textContent = '';
  $('signinButton').disabled = true;
  try {
    const res = await fetch('/api/signin', {
      method: 'POST', credentials: 'same-origin',
      headers: { 'X-HF-Request': '1', 'Content-Type': 'application/x-www-form-urlencoded' },
      body: new URLSearchParams({ user: $('user').value, password: $('password').value, center: $('center').value }),
    });
    const body = await res.json();
    if (!res.ok) { $('signinError').textContent = body.error || 'Sign-in failed.'; return; }
    $('password').value = '';
    start(body);
  } finally {
    $('signinButton').disabled = false;
  }
}

function start(s) {
  signedIn = true;
  $('signin').hidden = true;
  $('editor').hidden = false;
  version = 0;
  apply(s);
  $('grdFees').focus();
  poll();
}

// ---- Drawing the state ----

function apply(s) {
  if (s.version <= version && state) return;
  version = s.version;
  state = s;
  if (!formBuilt) buildForm(s);
  drawTabs(s);
  drawForm(s);
  drawGrid(s);
  $('status').textContent = s.status;
  $('lblVersionNo').textContent = s.version_label;
  $('centerLabel').textContent = `Center ${s.center} at ${s.server}`;
  $('userLabel').textContent = s.user;
  document.title = `${s.unfinished.length ? '* ' : ''}Center ${s.center} — HarnolFeesCenter`;
  $('busyShield').hidden = !s.busy;
  document.body.classList.toggle('wait', s.busy || s.pointer === 11);
  if (s.focusSeq > lastFocusSeq) {
    lastFocusSeq = s.focusSeq;
    const el = $(domId(s.focus));
    if (el && !el.disabled && el.offsetParent) el.focus();
  }
  drawMessage(s);
  if (!s.busy && !s.message) settled.splice(0).forEach((resolve) => resolve());
}

// Resolves once the session neither waits for the server nor for an answer.
const settled = [];
function whenSettled() {
  if (state && !state.busy && !state.message) return Promise.resolve();
  return new Promise((resolve) => settled.push(resolve));
}

function drawTabs(s) {
  const nav = $('tabFees');
  if (!nav.children.length) {
    s.tabs.forEach((caption, i) => {
      const b = document.createElement('button');
      b.type = 'button';
      b.id = `tabFees-${i + 1}`;
      b.textContent = caption.trim();
      b.title = caption.trim();
      b.setAttribute('role', 'tab');
      b.tabIndex = -1;
      b.addEventListener('click', () => act({ do: 'tab', index: i + 1 }));
      nav.appendChild(b);
    });
  }
  [...nav.children].forEach((b, i) => {
    b.classList.toggle('selected', s.selectedTab === i + 1);
    b.setAttribute('aria-selected', s.selectedTab === i + 1);
    b.classList.toggle('unfinished', s.unfinished.includes(i + 1));
  });
}

// The form keeps the control's own arrangement: each component where its
// placement puts it, in pixels of 15 twips.
let origin = { left: 0, top: 0 };
function buildForm(s) {
  formBuilt = true;
  const pic = $('picMain');
  const all = [...s.labels.map((l) => l.rect), ...s.texts.slice(1).map((t) => t.rect), ...s.dates.map((d) => d.rect),
    ...Object.values(s.combos).map((c) => c.rect), ...Object.values(s.checks).map((c) => c.rect), ...Object.values(s.buttons).map((b) => b.rect)];
  origin.left = Math.min(...all.map((r) => r[0])) - 120;
  origin.top = Math.min(...all.map((r) => r[1])) - 120;
  const right = Math.max(...all.map((r) => r[0] + r[2]));
  const bottom = Math.max(...all.map((r) => r[1] + r[3]));
  pic.style.height = px(bottom - origin.top + 150) + 'px';
  pic.style.minWidth = pxWide(right - origin.left + 150) + 'px';
  const place = (el, r, wide) => {
    el.classList.add('field');
    el.style.left = pxWide(r[0] - origin.left) + 'px';
    el.style.top = px(r[1] - origin.top) + 'px';
    if (wide !== false) el.style.width = Math.max(pxWide(r[2]), 40) + 'px';
    pic.appendChild(el);
  };
  s.labels.forEach((l, i) => {
    const el = document.createElement('label');
    el.id = `lblField-${i}`;
    el.className = 'lbl';
    place(el, l.rect, false);
  });
  s.texts.forEach((t, i) => {
    if (i === 0) return;
    const el = document.createElement('input');
    el.type = 'text';
    el.id = `txtField-${i}`;
    el.autocomplete = 'off';
    el.addEventListener('input', () => dirty.add(i));
    el.addEventListener('focus', () => act({ do: 'focus', index: i }).then(() => selectAsControl(el, i)));
    el.addEventListener('blur', () => act({ do: 'blur', index: i }));
    el.addEventListener('keydown', formKey);
    place(el, t.rect);
  });
  s.dates.forEach((d, i) => {
    const el = document.createElement('input');
    el.type = 'date';
    el.id = `DTPicker1-${i}`;
    el.addEventListener('change', () => { if (el.value) act({ do: 'date', index: i, value: el.value }); });
    el.addEventListener('keydown', formKey);
    place(el, d.rect);
  });
  for (const [name, c] of Object.entries(s.combos)) {
    const el = document.createElement('select');
    el.id = name;
    el.addEventListener('change', () => act({ do: 'combo', name, index: el.selectedIndex }));
    el.addEventListener('keydown', formKey);
    place(el, c.rect);
  }
  for (const [name, c] of Object.entries(s.checks)) {
    const wrap = document.createElement('label');
    const el = document.createElement('input');
    el.type = 'checkbox';
    el.id = name;
    el.addEventListener('change', () => act({ do: 'check', name, value: el.checked ? '1' : '0' }));
    el.addEventListener('keydown', formKey);
    wrap.appendChild(el);
    if (c.caption) wrap.appendChild(document.createTextNode(' ' + c.caption));
    place(wrap, c.rect, false);
  }
  for (const [name, b] of Object.entries(s.buttons)) {
    const el = document.createElement('button');
    el.type = 'button';
    el.id = name;
    el.addEventListener('click', () => act({ do: 'click', name }));
    place(el, b.rect);
  }
}

// The got-focus notification selects the whole text, so that typing replaces it.
function selectAsControl(el, i) {
  const t = state && state.texts[i];
  if (t && document.activeElement === el && t.selLength > 0) el.setSelectionRange(t.selStart, t.selStart + t.selLength);
}

function caption(el, text) {
  // "&Add": the letter after "&" is the access key (Alt+A), shown underlined.
  const at = text.indexOf('&');
  el.textContent = '';
  if (at < 0 || at + 1 >= text.length) { el.textContent = text; el.accessKey = ''; return; }
  el.append(text.slice(0, at));
  const u = document.createElement('u');
  u.textContent = text[at + 1];
  el.append(u, text.slice(at + 2));
  el.accessKey = text[at + 1].toLowerCase();
}

function drawForm(s) {
  s.labels.forEach((l, i) => { $(`lblField-${i}`).textContent = l.caption; });
  s.texts.forEach((t, i) => {
    if (i === 0) return;
    const el = $(`txtField-${i}`);
    if (!dirty.has(i) && el.value !== t.text) el.value = t.text;
    el.hidden = !t.visible;
    el.readOnly = !t.enabled;
    el.classList.toggle('readonly', !t.window);
  });
  s.dates.forEach((d, i) => {
    const el = $(`DTPicker1-${i}`);
    el.min = d.min; el.max = d.max;
    if (el.value !== d.value) el.value = d.value;
    el.hidden = !d.visible;
    el.disabled = !d.enabled;
  });
  for (const [name, c] of Object.entries(s.combos)) {
    const el = $(name);
    const same = el.options.length === c.items.length && c.items.every((t, i) => el.options[i].text === t);
    if (!same) {
      el.replaceChildren(...c.items.map((t) => { const o = document.createElement('option'); o.text = t; return o; }));
    }
    el.selectedIndex = c.index;
    el.hidden = !c.visible;
    el.disabled = !c.enabled;
    el.classList.toggle('readonly', !c.window);
  }
  for (const [name, c] of Object.entries(s.checks)) {
    const el = $(name);
    el.checked = c.value !== 0;
    el.parentElement.hidden = !c.visible;
    el.disabled = !c.enabled;
  }
  for (const [name, b] of Object.entries(s.buttons)) {
    const el = $(name);
    caption(el, b.caption);
    el.hidden = !b.visible;
    el.disabled = !b.enabled;
  }
}

// ---- The grid: only the rows in view are drawn ----

let gridRow = 1; // the row shown as current; follows the control's

function colWidths(s) {
  return s.grid.widths.map((w, c) => (w === 0 ? 0 : Math.max(px(w), Math.ceil(8.2 * (s.grid.head[c] || '').trimEnd().length) + 18)));
}

function drawGrid(s) {
  if (s.gridGen !== rowsGen) { rows.clear(); pending.clear(); rowsGen = s.gridGen; }
  if (s.window && s.window.gen === rowsGen) s.window.cells.forEach((c, i) => rows.set(s.window.from + i, c));
  gridRow = s.grid.row;
  const widths = colWidths(s);
  const head = $('gridHead');
  head.replaceChildren(...s.grid.head.map((h, c) => cell(h.trimEnd(), widths[c])));
  const total = widths.reduce((a, b) => a + b, 0);
  head.style.width = total + 'px';
  $('gridSpacer').style.height = Math.max(0, s.grid.rows - 1) * ROW + 'px';
  $('gridSpacer').style.width = total + 'px';
  renderRows();
}

function cell(text, width) {
  const d = document.createElement('div');
  d.className = 'cell';
  d.style.width = width + 'px';
  if (width === 0) d.hidden = true;
  d.textContent = text;
  return d;
}

function visibleRange() {
  const g = $('grdFees');
  const first = Math.max(1, Math.floor(g.scrollTop / ROW) + 1);
  const count = Math.ceil(g.clientHeight / ROW) + 1;
  return [first, Math.min(state.grid.rows - 1, first + count)];
}

function renderRows() {
  if (!state) return;
  const [first, last] = visibleRange();
  const widths = colWidths(state);
  const spacer = $('gridSpacer');
  const out = [];
  let missing = false;
  for (let r = first; r <= last; r++) {
    const cells = rows.get(r);
    if (!cells) { missing = true; continue; }
    const d = document.createElement('div');
    d.className = 'row' + (r === gridRow ? ' current' : '');
    d.style.top = (r - 1) * ROW + 'px';
    d.dataset.row = r;
    d.append(...cells.map((t, c) => cell(t, widths[c])));
    out.push(d);
  }
  spacer.replaceChildren(...out);
  if (missing) fetchRows(first, last);
}

function fetchRows(first, last) {
  for (let b = Math.floor((first - 1) / BLOCK); b <= Math.floor((last - 1) / BLOCK); b++) {
    const from = b * BLOCK + 1;
    if (pending.has(from)) continue;
    pending.add(from);
    const gen = rowsGen;
    fetch(`/api/rows?from=${from}&count=${BLOCK}`, { credentials: 'same-origin' })
      .then((r) => (r.ok ? r.json() : null))
      .then((j) => {
        pending.delete(from);
        if (!j || j.gen !== gen || gen !== rowsGen) return;
        j.cells.forEach((c, i) => rows.set(j.from + i, c));
        renderRows();
      }).catch(() => pending.delete(from));
  }
}

function scrollToRow(r) {
  const g = $('grdFees');
  const top = (r - 1) * ROW;
  const view = g.clientHeight - 24;
  if (top < g.scrollTop) g.scrollTop = top;
  else if (top + ROW > g.scrollTop + view) g.scrollTop = top + ROW - view;
}

function selectRow(r) {
  if (!state || state.grid.rows < 2) return;
  r = Math.max(1, Math.min(state.grid.rows - 1, r));
  gridRow = r;
  scrollToRow(r);
  renderRows();
  act({ do: 'row', row: r, col: 0 });
}

function gridKey(e) {
  if (!state || state.busy) return;
  const page = Math.max(1, Math.floor(($('grdFees').clientHeight - 24) / ROW) - 1);
  const moves = { ArrowDown: 1, ArrowUp: -1, PageDown: page, PageUp: -page };
  if (e.key in moves && !e.altKey && !e.ctrlKey) { selectRow(gridRow + moves[e.key]); e.preventDefault(); return; }
  if (e.key === 'Home' && !e.altKey) { selectRow(1); e.preventDefault(); return; }
  if (e.key === 'End' && !e.altKey) { selectRow(state.grid.rows - 1); e.preventDefault(); return; }
  if (e.key === 'c' && e.ctrlKey) { copyRow(); e.preventDefault(); return; }
  if (['Enter', 'Delete', 'Escape'].includes(e.key) && !e.altKey && !e.ctrlKey) {
    e.preventDefault();
    act({ do: 'key', name: 'grid', key: e.key });
  }
}

function copyRow() {
  const widths = state.grid.widths;
  const line = (cells) => cells.filter((_, c) => widths[c] !== 0).map((t) => t.trim()).join('\t');
  const cells = rows.get(gridRow);
  if (cells && navigator.clipboard) navigator.clipboard.writeText(line(state.grid.head) + '\n' + line(cells) + '\n');
}

function formKey(e) {
  if (e.altKey || e.ctrlKey || e.metaKey) return;
  if (e.key === 'Enter' || e.key === 'Escape') {
    e.preventDefault();
    act({ do: 'key', name: 'form', key: e.key });
  }
}

// ---- Message boxes ----

function drawMessage(s) {
  const dlg = $('msgbox');
  if (!s.message) { if (dlg.open) dlg.close(); return; }
  if (s.message.id === shownMessage && dlg.open) return;
  shownMessage = s.message.id;
  $('msgTitle').textContent = s.message.title;
  $('msgText').textContent = s.message.prompt;
  const icon = { 16: '⛔', 32: '❓', 48: '⚠️', 64: 'ℹ️' }[s.message.buttons & 0x70] || '';
  $('msgIcon').textContent = icon;
  const yesNo = (s.message.buttons & 0x0f) === 4;
  const buttons = yesNo ? [['Yes', 6], ['No', 7]] : [['OK', 1]];
  $('msgButtons').replaceChildren(...buttons.map(([text, answer]) => {
    const b = document.createElement('button');
    b.type = 'button';
    b.id = 'msg' + text;
    b.textContent = text;
    b.addEventListener('click', () => answer_(s.message.id, answer));
    return b;
  }));
  if (!dlg.open) dlg.showModal();
  $(yesNo ? 'msgNo' : 'msgOK').focus();
}

async function answer_(id, answer) {
  $('msgbox').close();
  const s = await send('/api/answer', { id, answer, ...windowParams() });
  if (s) apply(s);
}

$('msgbox').addEventListener('cancel', (e) => {
  e.preventDefault();
  if (!state || !state.message) return;
  answer_(state.message.id, (state.message.buttons & 0x0f) === 4 ? 7 : 1);
});

// ---- Unfinished work before leaving ----

function askUnsaved(action) {
  return new Promise((resolve) => {
    const names = state.unfinished.map((t) => state.tabs[t - 1].trim());
    $('unsavedText').textContent = `These tabs hold changes that are not saved: ${names.join(', ')}.\n\nSave them before ${action}?`;
    const dlg = $('unsaved');
    const done = (v) => { dlg.close(); resolve(v); };
    $('unsavedSave').onclick = () => done('save');
    $('unsavedDiscard').onclick = () => done('discard');
    $('unsavedCancel').onclick = () => done('cancel');
    dlg.oncancel = (e) => { e.preventDefault(); done('cancel'); };
    dlg.showModal();
    $('unsavedSave').focus();
  });
}

// Whether the unfinished work is settled, so that `action` may go ahead.
async function resolveUnfinished(action) {
  await queue;
  if (!state || state.busy) return false;
  if (!state.unfinished.length) return true;
  const choice = await askUnsaved(action);
  if (choice === 'cancel') return false;
  await act({ do: 'resolve', value: choice });
  await whenSettled();
  return state && !state.unfinished.length && !state.message;
}

async function openCenter() {
  const center = $('openCenter').value;
  if (center === '' || !(await resolveUnfinished('opening another center'))) return;
  act({ do: 'open', index: center });
}

async function reload() {
  if (await resolveUnfinished('reloading')) act({ do: 'reload' });
}

async function signOut() {
  if (!(await resolveUnfinished('signing out'))) return;
  await queue;
  const s = await send('/api/signout', {});
  if (s) showSignIn('You have signed out.');
}

window.addEventListener('beforeunload', (e) => {
  if (signedIn && state && (state.unfinished.length || state.busy)) { e.preventDefault(); e.returnValue = ''; }
});

// ---- Wiring ----

$('signin').addEventListener('submit', signIn);
$('openButton').addEventListener('click', openCenter);
$('reloadButton').addEventListener('click', reload);
$('signoutButton').addEventListener('click', signOut);
$('grdFees').addEventListener('scroll', () => renderRows(), { passive: true });
$('grdFees').addEventListener('keydown', gridKey);
$('grdFees').addEventListener('click', (e) => {
  const row = e.target.closest('.row');
  if (row && state && !state.busy) selectRow(Number(row.dataset.row));
});
$('grdFees').addEventListener('dblclick', (e) => {
  if (e.target.closest('.row')) act({ do: 'dblclick' });
});
new ResizeObserver(() => renderRows()).observe($('grdFees'));
document.addEventListener('keydown', (e) => {
  if (!signedIn || !state || state.busy || state.message) return;
  if (e.altKey && (e.key === 'PageDown' || e.key === 'PageUp')) {
    const n = state.tabs.length;
    act({ do: 'tab', index: ((state.selectedTab - 1 + (e.key === 'PageDown' ? 1 : -1) + n) % n) + 1 });
    e.preventDefault();
  } else if (e.key === 'F5' && !e.ctrlKey) {
    e.preventDefault();
    reload();
  }
});

fetch('/api/state', { credentials: 'same-origin' }).then(async (res) => {
  if (res.ok) start(await res.json());
  else showSignIn('');
}).catch(() => showSignIn('The editor could not be reached.'));
