// The catalogue as one table for everything read: a row for each header on
// each tape, found by a filter as it is typed, sorted by any column, each
// program to be downloaded as a PRG file. It knows the table's elements and
// the records the workers send, nothing of how tapes are read.

const TYPES = {1: 'program', 3: 'program, fixed address', 4: 'data file', 5: 'end of tape'};
const CHECKS = {ok: 'ok', repeat: 'repeat only', damaged: 'damaged', missing: 'missing'};

/** An address as people who use these machines write it: $0801. */
export const hex = (n) => '$' + n.toString(16).toUpperCase().padStart(4, '0');

/** A time on the tape as m:ss. */
export function position(seconds) {
  const s = Math.floor(seconds);
  return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
}

/** Bytes the header says its file holds; '' where its end is before its start. */
export const size = (r) => (r.end >= r.start ? r.end - r.start : '');

const escapeHtml = (text) => text.replace(/[&<>"]/g, (c) => ({'&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;'})[c]);

// Whether place a comes before place b: arrays of numbers, compared in turn.
function before(a, b) {
  for (let i = 0; i < Math.min(a.length, b.length); i++) if (a[i] !== b[i]) return a[i] < b[i];
  return a.length < b.length;
}

/** A PRG file's name, made from a tape name as shown without -e. */
export function prgName(shown) {
  const base = shown.trim().replace(/[\\/:*?"<>|\x00-\x1f]/g, '_').replace(/^\.+/, '');
  return (base || 'program') + '.prg';
}

// Each column: its heading, the text of a cell, and the key it sorts by.
const COLUMNS = [
  ['Tape', (row) => row.tape, (row) => row.tape],
  ['No.', (row) => (row.record.number ? String(row.record.number).padStart(3, '0') : ''), (row) => row.record.number || Infinity],
  ['Name', (row, escape) => row.record.shown[escape ? 1 : 0], (row) => row.record.shown[1]],
  ['Type', (row) => `${row.record.type}${TYPES[row.record.type] ? ': ' + TYPES[row.record.type] : ''}`, (row) => row.record.type],
  ['Start', (row) => hex(row.record.start), (row) => row.record.start],
  ['End', (row) => hex(row.record.end), (row) => row.record.end],
  ['Size', (row) => String(size(row.record)), (row) => size(row.record)],
  ['Position', (row) => position(row.record.seconds), (row) => row.record.seconds],
  ['Header', (row) => CHECKS[row.record.header], (row) => row.record.header],
  ['Program', (row) => CHECKS[row.record.programCheck], (row) => row.record.programCheck],
];

/** The table's columns, as the CSV heads them. */
export const CSV_COLUMNS = ['tape', 'number', 'name', 'type', 'start', 'end', 'size', 'position', 'header', 'program'];

/**
 * The table in table (a <table> with a <thead> row to fill and a <tbody>);
 * download(blob, name) saves a file; changed() hears of every change to
 * what is shown.
 */
export function createTable(table, {download, changed}) {
  const body = table.tBodies[0];
  const rows = [];     // every row, in the order read
  const ordered = [];  // every row, in the page's order: tapes as picked, members in their archive's
  let escape = false, sortBy = -1, descending = false, query = '';

  const headRow = table.tHead.rows[0];
  const headings = COLUMNS.map(([title], i) => {
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = title;
    button.addEventListener('click', () => sort(i));
    const th = document.createElement('th');
    th.scope = 'col';
    th.append(button);
    headRow.append(th);
    return th;
  });

  // A row's cells as markup: rows are put in by the thousand, and markup
  // costs the browser a small part of the memory of elements made one by one.
  function rowHtml(row, index) {
    const cells = COLUMNS.map(([, text], i) => {
      let inner = escapeHtml(text(row, escape));
      if (i === 9 && row.record.prg) {
        const name = escapeHtml(prgName(row.record.shown[0]));
        inner += ` <button type="button" class="download-prg" data-row="${index}" aria-label="Download ${name}">PRG</button>`;
      }
      return i === 2 ? `<td class="name">${inner}</td>` : `<td>${inner}</td>`;
    });
    const {number, offset} = row.record;
    return `<tr data-tape="${escapeHtml(row.tape)}" data-number="${number}" data-offset="${offset}"` +
      `${matches(row) ? '' : ' hidden'}>${cells.join('')}</tr>`;
  }

  body.addEventListener('click', (event) => {
    const button = event.target.closest('button.download-prg');
    if (!button) return;
    const {record} = rows[Number(button.dataset.row)];
    download(new Blob([record.prg], {type: 'application/octet-stream'}), prgName(record.shown[0]));
  });

  const matches = (row) => query === '' || row.search.includes(query);

  function show() {
    for (const row of rows) row.element.hidden = !matches(row);
    changed();
  }

  function sort(column) {
    descending = sortBy === column ? !descending : false;
    sortBy = column;
    headings.forEach((th, i) => {
      if (i === column) th.setAttribute('aria-sort', descending ? 'descending' : 'ascending');
      else th.removeAttribute('aria-sort');
    });
    reorder();
  }

  function reorder() {
    if (sortBy < 0) return;
    const key = COLUMNS[sortBy][2];
    const order = ordered.map((row, i) => [key(row), i, row]);
    order.sort(([a, i], [b, j]) => {
      const c = typeof a === 'string' ? a.localeCompare(b) : a - b;
      return (descending ? -c : c) || i - j;
    });
    body.append(...order.map(([, , row]) => row.element));
  }

  return {
    /**
     * Rows for a tape's records (with prg, the PRG file of a program that
     * loads), its name being its path in its folder or archive, its place
     * in the page an array of numbers: rows stand in the order of places
     * until a column is sorted.
     */
    add(tape, records, place) {
      const first = rows.length;
      const added = records.map((record, i) => ({tape, record, element: null, place: [...place, i],
                                                 search: `${tape}\n${record.shown[0]}\n${record.shown[1]}`.toLowerCase()}));
      if (added.length === 0) return;
      rows.push(...added);
      // In the page's order, before the first row placed after them.
      let lo = 0, hi = ordered.length;
      while (lo < hi) {
        const mid = (lo + hi) >> 1;
        if (before(ordered[mid].place, added[0].place)) lo = mid + 1;
        else hi = mid;
      }
      const next = ordered[lo]?.element ?? null;
      const html = added.map((row, i) => rowHtml(row, first + i)).join('');
      if (next) next.insertAdjacentHTML('beforebegin', html);
      else body.insertAdjacentHTML('beforeend', html);
      let element = next ? next.previousElementSibling : body.lastElementChild;
      for (let i = added.length - 1; i >= 0; i--, element = element.previousElementSibling) added[i].element = element;
      ordered.splice(lo, 0, ...added);
      if (sortBy >= 0) reorder();
    },
    /** Names shown as -e shows them, or not. */
    setEscape(on) {
      escape = on;
      for (const row of rows) row.element.cells[2].textContent = COLUMNS[2][1](row, escape);
    },
    /** Shows only rows whose tape or name holds text, in any case. */
    filter(text) {
      query = text.toLowerCase();
      show();
    },
    /** How many rows there are, and how many the filter shows. */
    counts() {
      return {all: rows.length, shown: query === '' ? rows.length : rows.filter(matches).length};
    },
    /** The rows shown, in their order, as CSV fields. */
    csvRows() {
      const shown = [...body.rows].filter((tr) => !tr.hidden);
      const byElement = new Map(rows.map((row) => [row.element, row]));
      return shown.map((tr) => {
        const row = byElement.get(tr);
        return COLUMNS.map(([, text]) => text(row, escape));
      });
    },
    clear() {
      rows.length = 0;
      ordered.length = 0;
      body.replaceChildren();
      changed();
    },
  };
}
