// The page: picks and drops tapes, hands them to the pool of workers that
// read them, and shows each tape's output as the command-line tool writes it,
// and every file on every tape in one table.
import {createPool} from './pool.mjs';
import {watchPicking} from './picking.mjs';
import {kindOf} from './protocol.mjs';
import {readsIntoBuffers} from './read.mjs';
import {createTable} from './table.mjs';
import workerSource from './worker_source.mjs';

const $ = (id) => document.getElementById(id);
const fileInput = $('file-input');
const folderInput = $('folder-input');
const dropZone = $('drop-zone');
const optAll = $('opt-all');
const optEscape = $('opt-escape');
const optMachine = $('opt-machine');
const results = $('results');
const status = $('status');
const overall = $('overall');
const overallProgress = $('overall-progress');
const overallText = $('overall-text');
const buttons = {copy: $('copy-all'), csv: $('download-csv'), cancel: $('cancel'), clear: $('clear')};
const catalogueSection = $('catalogue');
const filterBox = $('catalogue-filter');

const entries = [];  // every tape, archive and member shown, in the order picked
let nextId = 1;

const variant = () => (optAll.checked ? 'a' : '') + (optEscape.checked ? 'e' : '');
const plural = (n, one, many) => `${n.toLocaleString('en')} ${n === 1 ? one : many}`;

/** Bytes as the program wrote them, one character per byte. */
function bytesToText(bytes) {
  let s = '';
  for (let i = 0; i < bytes.length; i += 8192) s += String.fromCharCode(...bytes.subarray(i, i + 8192));
  return s;
}

function el(tag, props = {}, ...children) {
  const e = document.createElement(tag);
  Object.assign(e, props);
  e.append(...children);
  return e;
}

// The workers: from worker.mjs beside the page where it is served, or from
// the source the one-file page carries (a classic worker from a blob: works
// from disk in every engine; a module worker from one does not).
function createWorker() {
  if (workerSource === null) return new Worker(new URL('./worker.mjs', import.meta.url), {type: 'module'});
  createWorker.url ||= URL.createObjectURL(new Blob([workerSource], {type: 'text/javascript'}));
  return new Worker(createWorker.url);
}

// --- what the pool tells ------------------------------------------------------

// Where the browser reads files into buffers it keeps, one worker a core, and
// an archive's small members read 16 MiB at a time. Where it reads them into
// new memory (WebKit), reading is the slowest part: two workers keep up with
// it, and reads of 4 MiB cost less than larger ones. Each further worker
// costs time of its own, to compile the core and warm up.
const reading = readsIntoBuffers() ? {size: Math.max(2, Math.min(navigator.hardwareConcurrency || 2, 8)), batch: 16 << 20}
  : {size: 2, batch: 4 << 20};
const pool = createPool(createWorker, {
  ready,
  progress: scheduleShow,
  listed,
  finished(tape, reply) {
    finishedSince.push([tape, reply]);
    scheduleShow();
  },
  changed: scheduleShow,
  broken(message) {
    const note = $('broken');
    note.textContent = `This browser could not start the page's tape reader (${message}), so no tape can be ` +
      'read here. Try reloading the page, or open it in a current Chromium, Firefox or Safari.';
    note.hidden = false;
  },
}, reading);

const table = createTable($('catalogue-table'), {previous: $('page-previous'), next: $('page-next'), where: $('page-where')},
                          {download, changed: () => updateStatus(), escape: optEscape.checked});

// --- tapes and their results ------------------------------------------------

// A worker's core has started: the machines it makes TAPs for fill the
// choice of machine, and the table gets its columns.
function ready({machines, columns}) {
  if (optMachine.options.length === 0) {
    optMachine.append(...machines.map(({name, label}) => el('option', {value: name, textContent: label})));
    optMachine.disabled = false;
  }
  table.setColumns(columns);
}

// A tape, an archive or a member as the page shows it: heading (its path
// in the folder or archive picked), size, and the output or a message in
// its place. How far reading has come shows in the page's one bar.
function addEntry(name, size, kind, file, parent = results, member = null) {
  const tape = {id: nextId++, file, kind, member, name, size, machine: optMachine.value || undefined};
  tape.place = [tape.id];
  tape.total = member ? member.compressedSize : size;  // bytes of the file it reads
  tape.pre = el('pre');
  tape.pre.dataset.tape = name;
  tape.note = el('p', {className: 'note', textContent: 'Waiting to be read.'});
  const heading = parent === results ? 'h3' : `h${Math.min(6, Number(parent.firstChild.tagName[1]) + 1)}`;
  tape.element = el(kind === 'archive' ? 'section' : 'article', {className: kind === 'archive' ? 'archive' : 'tape'},
    el(heading, {textContent: name}),
    el('p', {className: 'meta', textContent: plural(size, 'byte', 'bytes') + (kind === 'archive' ? ', zip archive' : '')}),
    tape.note);
  parent.append(tape.element);
  entries.push(tape);
  return tape;
}

// A file's path in the folder picked or dropped, or its name.
const pathOf = (file) => file.brivanePath || file.webkitRelativePath || file.name;

function addTapes(files, skipped = 0) {
  if (files.length === 0 && skipped === 0) return;
  document.documentElement.dataset.pickedAt = performance.now();
  document.documentElement.dataset.reading = '';  // until every tape picked is read and shown
  if (pool.busy() === 0) runStart = entries.length;
  const added = files.map((file) => addEntry(pathOf(file), file.size, kindOf(file.name) || 'file', file));
  if (skipped > 0) {
    results.append(el('p', {className: 'skipped', textContent: `${plural(skipped, 'other file', 'other files')} skipped: only tapes (.tap, .tap.gz), recordings (.wav, .flac, .ogg, .oga, .opus, .mp3) and .zip files are read from a folder.`}));
  }
  // On a small screen the results, the table first, start below the fold: bring them into view.
  catalogueSection.hidden = false;
  if (catalogueSection.getBoundingClientRect().top > innerHeight * 0.75) catalogueSection.scrollIntoView({block: 'start'});
  pool.add(...added);
  updateStatus();  // Cancel at once, not a frame later
}

// An archive's members are known, each as the worker typed it: each tape,
// recording and archive in it gets its own entry, in the archive's order;
// the pool reads them, by whichever worker is free. An archive inside
// another is read from inner, its bytes.
function listed(archive, members, inner) {
  if (archive.kind !== 'archive') {  // a file picked by a name the page does not know, a zip by its contents
    archive.kind = 'archive';
    archive.element.className = 'archive';
    archive.element.querySelector('.meta').textContent += ', zip archive';
  }
  const read = members.filter((m) => m.kind !== 'other');
  const archives = read.filter((m) => m.kind === 'archive').length;
  const others = members.length - read.length;
  const tapes = read.length - archives;
  const held = [];
  if (tapes > 0 || archives === 0) held.push(plural(tapes, 'tape', 'tapes'));
  if (archives > 0) held.push(plural(archives, 'archive', 'archives'));
  archive.note.textContent = `${held.join(' and ')} in it` +
    (others ? `; ${plural(others, 'other file', 'other files')} skipped.` : '.');
  archive.note.className = 'skipped';
  const added = read.map(({member: m, kind}) => {
    const t = addEntry(`${archive.name}/${m.path}`, m.size, kind === 'archive' ? 'archive' : 'member',
                       inner || archive.file, archive.element, m);
    t.memberKind = kind;
    t.archive = archive;
    t.depth = (archive.depth || 0) + 1;
    t.place = [...archive.place, t.id];  // under the archive, in its order
    t.machine = archive.machine;  // as it was chosen when the archive was picked
    return t;
  });
  archive.file = null;
  return added;
}

function showFinished(tape, {kind, outputs, nameCount, catalogue, coverage, cutShort, signature, error, cancelled, tap, tapName}) {
  document.documentElement.dataset.finishedAt = performance.now();
  if (outputs) {
    tape.outputs = outputs;
    tape.nameCount = nameCount;
    tape.files = catalogue.filter((r) => r.kind === 'file').length;
    // A file that neither starts as a TAP file nor holds a file any loader
    // reads is no tape: what no loader explains in it is all of it.
    tape.notTap = !signature && nameCount === 0 && tape.files === 0 && kind !== 'recording' && tape.size > 0;
    if (!tape.notTap) {
      newRows.push({tape: tape.name, records: catalogue, place: tape.place});
      showCoverage(tape, coverage, catalogue.length - tape.files, cutShort);
    }
    showOutput(tape);
  }
  if (tap) offerTap(tape, tap, tapName);
  if (cancelled) {
    tape.note.textContent = 'Reading cancelled.';
  } else if (error) {
    const recording = kind === 'recording' || tape.kind === 'recording' || tape.memberKind === 'recording';
    const what = tape.kind === 'archive' ? 'this archive' : recording ? 'this recording'
      : tape.kind === 'member' ? 'this tape in the archive' : 'this file';
    tape.note.className = 'error';
    tape.note.dataset.error = tape.name;
    tape.note.textContent = tape.nameCount
      ? `Could not read the rest of ${what}: ${error}. The names above were found before that.`
      : `Could not read ${what}: ${error}.`;
    tape.note.hidden = false;
  }
}

// How much of a tape its blocks explain, under its heading: a tape read
// whole says so; where some is not, the table has the stretches. A TAP file
// that ends before the pulses its header gives says that too.
function showCoverage(tape, coverage, stretches, cutShort) {
  if (tape.size === 0 || coverage === undefined) return;
  const share = coverage >= 1 ? 'all' : coverage > 0.99 ? 'over 99%' : `${Math.floor(coverage * 100)}%`;
  const text = `Its blocks explain ${share} of its time` +
    (stretches ? `; ${plural(stretches, 'stretch', 'stretches')} no loader explains ${stretches === 1 ? 'is' : 'are'} in the table.` : '.') +
    (cutShort ? ` ${cutShort.words[0].toUpperCase()}${cutShort.words.slice(1)}.` : '');
  const line = el('p', {className: 'coverage', textContent: text});
  line.dataset.coverage = String(coverage);
  tape.element.querySelector('.meta').after(line);
}

// A recording's entry offers the TAP file made from it, named after it.
function offerTap(tape, tap, name) {
  const button = el('button', {type: 'button', className: 'download-tap', textContent: 'Download TAP'});
  button.setAttribute('aria-label', `Download TAP: ${name}, made from this recording`);
  button.addEventListener('click', () => download(new Blob([tap], {type: 'application/octet-stream'}), name));
  tape.note.after(button);
}

function download(blob, name) {
  const url = URL.createObjectURL(blob);
  const a = el('a', {href: url, download: name});
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

// Shows the output for the options ticked. A tape that could not be read
// keeps its output only where names were found in it.
function showOutput(tape) {
  if (tape.state === 'done' || tape.nameCount > 0) {
    if (!tape.pre.isConnected) tape.note.before(tape.pre);
    tape.pre.textContent = bytesToText(tape.outputs[variant()]);
  }
  if (tape.state !== 'done') return;
  tape.note.textContent = tape.size === 0 ? 'The file is empty: it holds no tape header.'
    : tape.notTap ? 'This is not a TAP file: it does not start as one, and no names were found in it.'
      : tape.nameCount === 0 && tape.files > 0 ? 'No ROM header on this tape names a file: its files are in the table.'
        : tape.nameCount === 0 ? 'No tape header found: this file holds no names.' : '';
  tape.note.hidden = tape.nameCount > 0;
}

// Every tape listed, in the page's order (members under their archive, where
// the archive was picked), as [name, what] with what(tape) for the options
// ticked.
function listing(what) {
  const listed = new Map(entries.filter((t) => t.outputs).map((t) => [t.pre, t]));
  return [...results.querySelectorAll('pre')].filter((p) => listed.has(p))
    .map((p) => [listed.get(p).name, what(listed.get(p))]);
}

// --- status ------------------------------------------------------------------

// What the workers report is put on the page at most twice a second, all at
// once, and at once when the last tape is read: an archive can finish
// hundreds of tapes in half a second, and each change to the page costs the
// browser a new picture of it.
const SHOW_EVERY = 500;
const finishedSince = [];  // [tape, reply] not yet shown
const newRows = [];  // the table's rows for them, put in together
let showTimer = null, showFrame = null, lastShown = -Infinity;

function scheduleShow() {
  if (showFrame !== null) return;
  const wait = pool.busy() === 0 ? 0 : lastShown + SHOW_EVERY - performance.now();
  if (wait > 0) {
    showTimer ??= setTimeout(() => {
      showTimer = null;
      scheduleShow();
    }, wait);
    return;
  }
  clearTimeout(showTimer);
  showTimer = null;
  // In the next frame; or, where no frame comes (a tab in the background
  // draws none), a little later all the same: the results and the count
  // never wait on a picture of the page.
  const show = () => {
    cancelAnimationFrame(showFrame.frame);
    clearTimeout(showFrame.timer);
    showFrame = null;
    lastShown = performance.now();
    for (const [tape, reply] of finishedSince.splice(0)) showFinished(tape, reply);
    table.add(newRows.splice(0));
    updateStatus();
  };
  showFrame = {frame: requestAnimationFrame(show), timer: setTimeout(show, SHOW_EVERY)};
}

// The overall bar counts the bytes of the tapes picked since the page was
// last idle: those read whole, and how far the others have come.
let runStart = 0;

function updateStatus() {
  const counts = {queued: 0, reading: 0, done: 0, failed: 0, cancelled: 0, notTap: 0, files: 0};
  let total = 0, done = 0;
  entries.forEach((t, i) => {
    if (t.kind === 'archive' && t.state === 'done') return;
    if (t.notTap) counts.notTap++;
    else counts[t.state]++;
    counts.files += t.files || 0;
    if (i < runStart) return;
    total += t.total;
    done += t.state === 'queued' || t.state === 'reading' ? t.done : t.total;
  });
  const busy = counts.reading + counts.queued;
  const found = table.counts();
  const parts = [`${plural(counts.files, 'file', 'files')} on ${plural(counts.done, 'tape', 'tapes')}` +
    (found.shown < found.all ? ` (${found.shown.toLocaleString('en')} shown)` : '')];
  if (counts.notTap) parts.push(counts.notTap === 1 ? '1 file is not a TAP file' : `${counts.notTap.toLocaleString('en')} files are not TAP files`);
  if (counts.failed) parts.push(`${plural(counts.failed, 'file', 'files')} could not be read`);
  if (counts.cancelled) parts.push(`${counts.cancelled.toLocaleString('en')} cancelled`);
  status.textContent = entries.length ? parts.join(', ') + '.' : '';
  buttons.copy.disabled = counts.done === 0;
  buttons.csv.disabled = found.shown === 0;
  catalogueSection.hidden = entries.length === 0;
  buttons.cancel.disabled = busy === 0;
  buttons.clear.disabled = entries.length === 0 || busy > 0;
  overall.hidden = busy === 0;
  if (busy === 0) delete document.documentElement.dataset.reading;
  overallProgress.value = total ? done / total : 0;
  overallText.textContent = `${plural(busy, 'tape', 'tapes')} left`;
}

// --- picking and dropping ------------------------------------------------------

watchPicking({fileInput, folderInput, dropZone, status}, addTapes);

// --- options and actions ---------------------------------------------------------

for (const box of [optAll, optEscape]) {
  box.addEventListener('change', () => {
    for (const t of entries) if (t.outputs) showOutput(t);
    table.setEscape(optEscape.checked);
  });
}

filterBox.addEventListener('input', () => table.filter(filterBox.value));

buttons.copy.addEventListener('click', async () => {
  const shown = listing((t) => bytesToText(t.outputs[variant()]));
  const text = shown.map(([name, out]) => `${name}\n${out}`).join('\n');
  try {
    await navigator.clipboard.writeText(text);
  } catch {
    const area = el('textarea', {value: text});
    document.body.append(area);
    area.select();
    document.execCommand('copy');
    area.remove();
    buttons.copy.focus();
  }
  status.textContent = `Copied the listing of ${plural(shown.length, 'tape', 'tapes')}.`;
});

buttons.csv.addEventListener('click', () => {
  download(new Blob([table.csv()], {type: 'text/csv'}), 'brivane.csv');
});

buttons.cancel.addEventListener('click', () => pool.cancel());

buttons.clear.addEventListener('click', () => {
  entries.length = 0;
  runStart = 0;
  results.replaceChildren();
  table.clear();
  filterBox.value = '';
  table.filter('');
  updateStatus();
  dropZone.focus();  // the button just pressed is disabled now: start again where tapes are picked
});

pool.start();
document.documentElement.dataset.ready = '';
