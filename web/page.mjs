// The page: picks and drops tapes, hands them to a pool of Workers that read
// them, and shows each tape's output as the command-line tool writes it.
import {bytesToText, namesIn, toCsv} from './csv.mjs';
import {isGzipTapeName, isTapeName, isZipName, memberEnd} from './zip.mjs';

const $ = (id) => document.getElementById(id);
const fileInput = $('file-input');
const folderInput = $('folder-input');
const dropZone = $('drop-zone');
const optAll = $('opt-all');
const optEscape = $('opt-escape');
const results = $('results');
const status = $('status');
const overall = $('overall');
const overallProgress = $('overall-progress');
const overallText = $('overall-text');
const buttons = {copy: $('copy-all'), csv: $('download-csv'), cancel: $('cancel'), clear: $('clear')};

// Workers, and reads each has under way: reading a member of an archive
// mostly waits on the browser, so several go at once.
const POOL_SIZE = Math.max(4, Math.min(navigator.hardwareConcurrency || 4, 8));
const PER_WORKER = 2;
const tapes = [];   // every tape shown, in the order picked
const queue = [];   // tapes waiting for a worker
const pool = [];    // {worker, reading}: reading maps the ids of the tapes it reads to them
let nextId = 1;

const isReadable = (name) => isTapeName(name) || isZipName(name) || isGzipTapeName(name);
const variant = () => (optAll.checked ? 'a' : '') + (optEscape.checked ? 'e' : '');
const plural = (n, one, many) => `${n.toLocaleString('en')} ${n === 1 ? one : many}`;

function el(tag, props = {}, ...children) {
  const e = document.createElement(tag);
  Object.assign(e, props);
  e.append(...children);
  return e;
}

// --- the pool of workers -----------------------------------------------------

function startWorker() {
  const entry = {worker: new Worker(new URL('./worker.mjs', import.meta.url), {type: 'module'}), reading: new Map(), jobs: 0};
  entry.worker.onmessage = ({data}) => onWorkerMessage(entry, data);
  entry.worker.onerror = (event) => {
    event.preventDefault();
    entry.worker.terminate();
    pool.splice(pool.indexOf(entry), 1);
    for (const tape of entry.reading.values()) finish(tape, {error: 'the page could not start its reader for it'});
    dispatch();
  };
  pool.push(entry);
  return entry;
}

// The members that follow the first in the queue, side by side in the same
// archive, that one read of at most BATCH bytes takes in.
const BATCH = 16 << 20;
function batchFrom(first) {
  const batch = [first];
  let start = first.member.headerOffset, end = memberEnd(first.member);
  for (const t of queue) {
    if (t.kind !== 'member' || t.archive !== first.archive || batch.length >= 64) break;
    const s = Math.min(start, t.member.headerOffset), e = Math.max(end, memberEnd(t.member));
    if (e - s > BATCH) break;
    batch.push(t);
    start = s;
    end = e;
  }
  queue.splice(0, batch.length - 1);
  return {batch, start, end};
}

// Hands waiting tapes to the least busy worker: a large tape or an archive
// takes a worker to itself; small members go in batches, a few to a worker.
function dispatch() {
  while (queue.length > 0) {
    if (pool.length < POOL_SIZE && pool.every((p) => p.jobs > 0)) startWorker();
    const entry = pool.reduce((a, b) => (b.jobs < a.jobs ? b : a));
    const tape = queue[0];
    if (entry.jobs >= (tape.total > BATCH ? 1 : PER_WORKER)) break;
    queue.shift();
    const job = tape.kind === 'member' && tape.total <= BATCH ? batchFrom(tape) : {batch: [tape]};
    const counter = {left: job.batch.length};
    entry.jobs++;
    for (const t of job.batch) {
      entry.reading.set(t.id, t);
      t.job = counter;
      t.state = 'reading';
      t.progress.hidden = false;
    }
    if (job.start !== undefined) {
      entry.worker.postMessage({type: 'batch', file: tape.file, start: job.start, end: job.end,
                                members: job.batch.map((t) => ({id: t.id, member: t.member}))});
    } else {
      entry.worker.postMessage({type: tape.kind, id: tape.id, file: tape.file, member: tape.member});
    }
  }
  scheduleStatus();
}

function onWorkerMessage(entry, data) {
  const tape = entry.reading.get(data.id);
  if (!tape) return;
  if (data.type === 'progress') {
    tape.done = data.done;
    tape.progress.value = data.total ? data.done / data.total : 1;
    scheduleStatus();
    return;
  }
  entry.reading.delete(data.id);
  if (--tape.job.left === 0) entry.jobs--;
  if (data.type === 'listing') listed(tape, data.members);
  else if (data.type === 'result') finish(tape, {outputs: data.outputs, error: data.error});
  else if (data.type === 'cancelled') finish(tape, {cancelled: true});
  else finish(tape, {error: data.message});
  dispatch();
}

// --- tapes and their results ------------------------------------------------

// A tape, an archive or a member as the page shows it: heading, size, and
// the output or a message in its place.
function addEntry(name, size, kind, file, parent = results, member = null) {
  const tape = {id: nextId++, file, kind, member, name, size, done: 0, state: 'queued'};
  tape.total = member ? member.compressedSize : size;  // bytes of the file it reads
  tape.progress = el('progress', {max: 1, value: 0, hidden: true});
  tape.progress.setAttribute('aria-label', `Reading ${name}`);
  tape.pre = el('pre');
  tape.pre.dataset.tape = name;
  tape.note = el('p', {className: 'note', textContent: 'Waiting to be read.'});
  tape.element = el(kind === 'archive' ? 'section' : 'article', {className: kind === 'archive' ? 'archive' : 'tape'},
    el(kind === 'archive' ? 'h3' : parent === results ? 'h3' : 'h4', {textContent: name}),
    el('p', {className: 'meta', textContent: plural(size, 'byte', 'bytes') + (kind === 'archive' ? ', zip archive' : '')}),
    tape.progress, tape.note);
  parent.append(tape.element);
  tapes.push(tape);
  return tape;
}

function addTapes(files, skipped = 0) {
  if (files.length === 0 && skipped === 0) return;
  document.documentElement.dataset.pickedAt = performance.now();
  for (const file of files) {
    const kind = isZipName(file.name) ? 'archive' : isGzipTapeName(file.name) ? 'gzip' : 'tape';
    queue.push(addEntry(file.name, file.size, kind, file));
  }
  if (skipped > 0) {
    results.append(el('p', {className: 'skipped', textContent: `${plural(skipped, 'other file', 'other files')} skipped: only .tap, .tap.gz and .zip files are read from a folder.`}));
  }
  dispatch();
}

// An archive's members are known: each tape in it gets its own entry, in the
// archive's order, read by whichever worker is free.
function listed(archive, members) {
  const tapesIn = members.filter((m) => m.tape);
  const others = members.length - tapesIn.length;
  archive.state = 'done';
  archive.progress.remove();
  archive.note.textContent = `${plural(tapesIn.length, 'tape', 'tapes')} in it` +
    (others ? `; ${plural(others, 'other file', 'other files')} skipped.` : '.');
  archive.note.className = 'skipped';
  for (const m of tapesIn) {
    const t = addEntry(`${archive.name}/${m.path}`, m.size, 'member', archive.file, archive.element, m);
    t.archive = archive;
    queue.push(t);
  }
  archive.file = null;
  scheduleStatus();
}

function finish(tape, {outputs, error, cancelled}) {
  document.documentElement.dataset.finishedAt = performance.now();
  tape.state = error ? 'failed' : outputs ? 'done' : 'cancelled';
  tape.file = null;  // let the browser forget it
  tape.progress.remove();
  if (outputs) {
    tape.outputs = outputs;
    showOutput(tape);
  }
  if (cancelled) {
    tape.note.textContent = 'Reading cancelled.';
  } else if (error) {
    const what = tape.kind === 'archive' ? 'this archive' : tape.kind === 'member' ? 'this tape in the archive' : 'this file';
    tape.note.className = 'error';
    tape.note.dataset.error = tape.name;
    tape.note.textContent = outputs && namesIn(bytesToText(outputs.a)).length
      ? `Could not read the rest of ${what}: ${error}. The names above were found before that.`
      : `Could not read ${what}: ${error}.`;
    tape.note.hidden = false;
  }
  scheduleStatus();
}

// Shows the output for the options ticked. A tape that could not be read
// keeps its output only where names were found in it.
function showOutput(tape) {
  const names = namesIn(bytesToText(tape.outputs.a)).length;
  if (tape.state === 'done' || names > 0) {
    if (!tape.pre.isConnected) tape.note.before(tape.pre);
    tape.pre.textContent = bytesToText(tape.outputs[variant()]);
  }
  if (tape.state !== 'done') return;
  tape.note.textContent = tape.size === 0 ? 'The file is empty: it holds no tape header.'
    : names === 0 ? 'No tape header found: this file holds no names.' : '';
  tape.note.hidden = names > 0;
}

function listing() {
  return tapes.filter((t) => t.outputs && t.pre.isConnected).map((t) => [t.name, bytesToText(t.outputs[variant()])]);
}

// --- status ------------------------------------------------------------------

function updateOverall() {
  const active = tapes.filter((t) => t.state === 'reading' || t.state === 'queued');
  overall.hidden = active.length === 0;
  if (active.length === 0) return;
  const total = active.reduce((n, t) => n + t.total, 0);
  const done = active.reduce((n, t) => n + t.done, 0);
  overallProgress.value = total ? done / total : 0;
  overallText.textContent = `${plural(active.length, 'tape', 'tapes')} left`;
}

// Status and progress are brought up to date once a frame, however many
// tapes finish in it: an archive can finish hundreds at once.
let statusPending = false;
function scheduleStatus() {
  if (statusPending) return;
  statusPending = true;
  requestAnimationFrame(() => {
    statusPending = false;
    updateStatus();
  });
}

function updateStatus() {
  const count = (state) => tapes.filter((t) => t.state === state && (t.kind !== 'archive' || state !== 'done')).length;
  const busy = count('reading') + count('queued');
  const parts = [`${plural(count('done'), 'tape', 'tapes')} read`];
  if (busy) parts.push(`${busy.toLocaleString('en')} to go`);
  if (count('failed')) parts.push(`${plural(count('failed'), 'file', 'files')} could not be read`);
  if (count('cancelled')) parts.push(`${count('cancelled').toLocaleString('en')} cancelled`);
  status.textContent = tapes.length ? parts.join(', ') + '.' : '';
  buttons.copy.disabled = buttons.csv.disabled = count('done') === 0;
  buttons.cancel.disabled = busy === 0;
  buttons.clear.disabled = tapes.length === 0 || busy > 0;
  updateOverall();
}

// --- picking and dropping ------------------------------------------------------

fileInput.addEventListener('change', () => {
  addTapes([...fileInput.files]);
  fileInput.value = '';
});

folderInput.addEventListener('change', () => {
  const all = [...folderInput.files];
  const picked = all.filter((f) => isReadable(f.name));
  addTapes(picked, all.length - picked.length);
  folderInput.value = '';
});

// Every file below a dropped folder, in name order.
async function filesIn(entry, out) {
  if (entry.isFile) {
    out.push(await new Promise((resolve, reject) => entry.file(resolve, reject)));
    return;
  }
  const reader = entry.createReader();
  const entries = [];
  for (let batch; (batch = await new Promise((res, rej) => reader.readEntries(res, rej))).length > 0;) entries.push(...batch);
  entries.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  for (const e of entries) await filesIn(e, out);
}

dropZone.addEventListener('dragover', (event) => {
  event.preventDefault();
  dropZone.classList.add('over');
});
dropZone.addEventListener('dragleave', () => dropZone.classList.remove('over'));
dropZone.addEventListener('drop', async (event) => {
  event.preventDefault();
  dropZone.classList.remove('over');
  const dropped = [], fromFolders = [];
  const entries = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry());
  const files = [...event.dataTransfer.files];
  try {
    for (let i = 0; i < entries.length; i++) {
      if (entries[i] && entries[i].isDirectory) await filesIn(entries[i], fromFolders);
      else if (files[i]) dropped.push(files[i]);
    }
  } catch (e) {
    status.textContent = `Could not read the dropped folder (${e.name || e}).`;
  }
  const picked = fromFolders.filter((f) => isReadable(f.name));
  addTapes([...dropped, ...picked], fromFolders.length - picked.length);
});
dropZone.addEventListener('keydown', (event) => {
  if (event.key === 'Enter' || event.key === ' ') {
    event.preventDefault();
    fileInput.click();
  }
});
dropZone.addEventListener('click', () => fileInput.click());

// --- options and actions ---------------------------------------------------------

for (const box of [optAll, optEscape]) {
  box.addEventListener('change', () => {
    for (const t of tapes) if (t.outputs) showOutput(t);
  });
}

buttons.copy.addEventListener('click', async () => {
  const text = listing().map(([name, out]) => `${name}\n${out}`).join('\n');
  try {
    await navigator.clipboard.writeText(text);
  } catch {
    const area = el('textarea', {value: text});
    document.body.append(area);
    area.select();
    document.execCommand('copy');
    area.remove();
  }
  status.textContent = `Copied the listing of ${plural(listing().length, 'tape', 'tapes')}.`;
});

buttons.csv.addEventListener('click', () => {
  const url = URL.createObjectURL(new Blob([toCsv(listing())], {type: 'text/csv'}));
  const a = el('a', {href: url, download: 'brivane.csv'});
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
});

buttons.cancel.addEventListener('click', () => {
  for (const t of queue.splice(0)) finish(t, {cancelled: true});
  for (const p of pool) for (const id of p.reading.keys()) p.worker.postMessage({type: 'cancel', id});
});

buttons.clear.addEventListener('click', () => {
  tapes.length = 0;
  results.replaceChildren();
  updateStatus();
});
