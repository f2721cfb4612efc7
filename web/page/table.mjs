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

/** Rows shown at once: the rest are a page away. */
export const PAGE_ROWS = 50;

/**
 * The table in table (a <table> with a <thead> row to fill and a <tbody>),
 * a page of rows at a time, turned with pager's previous and next buttons
 * and told in its where element: a browser lays out and keeps every row it
 * is given, and a collection can have tens of thousands.
 * download(blob, name) saves a file; changed() hears of every change to
 * what is shown; escape: names start shown as -e shows them.
 */
export function createTable(table, pager, {download, changed, escape: escapeFirst = false}) {
  const body = table.tBodies[0];
  const rows = [];     // every row, in the order read
  const ordered = [];  // every row, in the page's order: tapes as picked, members in their archive's
  let view = null;     // the rows the filter lets through, in the order shown; null when to be found anew
  let escape = escapeFirst, sortBy = -1, descending = false, query = '', page = 0;

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

  const matches = (row) => query === '' || row.search.includes(query);

  function rowHtml(row) {
    const cells = COLUMNS.map(([, text], i) => {
      let inner = escapeHtml(text(row, escape));
      if (i === 9 && row.record.prg) {
        const name = escapeHtml(prgName(row.record.shown[0]));
        inner += ` <button type="button" class="download-prg" data-row="${row.index}" aria-label="Download ${name}">PRG</button>`;
      }
      return i === 2 ? `<td class="name">${inner}</td>` : `<td>${inner}</td>`;
    });
    const {number, offset} = row.record;
    return `<tr data-tape="${escapeHtml(row.tape)}" data-number="${number}" data-offset="${offset}">${cells.join('')}</tr>`;
  }

  // The rows shown, in order: those the filter lets through, sorted by the column chosen.
  function shown() {
    if (view) return view;
    view = ordered.filter(matches);
    if (sortBy >= 0) {
      const key = COLUMNS[sortBy][2];
      const keyed = view.map((row, i) => [key(row), i, row]);
      keyed.sort(([a, i], [b, j]) => {
        const c = typeof a === 'string' ? a.localeCompare(b) : a - b;
        return (descending ? -c : c) || i - j;
      });
      view = keyed.map(([, , row]) => row);
    }
    return view;
  }

  // Puts the page of rows in the table, and says where it is.
  function render() {
    const all = shown();
    const pages = Math.max(1, Math.ceil(all.length / PAGE_ROWS));
    page = Math.min(page, pages - 1);
    const first = page * PAGE_ROWS;
    body.innerHTML = all.slice(first, first + PAGE_ROWS).map(rowHtml).join('');
    pager.where.textContent = all.length === 0 ? (rows.length ? 'No file matches.' : '')
      : `Files ${(first + 1).toLocaleString('en')} to ${Math.min(first + PAGE_ROWS, all.length).toLocaleString('en')} ` +
        `of ${all.length.toLocaleString('en')}`;
    pager.previous.disabled = page === 0;
    pager.next.disabled = page >= pages - 1;
    pager.previous.parentElement.hidden = pages === 1;
    changed();
  }

  function turn(by) {
    page += by;
    render();
    table.parentElement.scrollIntoView({block: 'nearest'});
  }
  pager.previous.addEventListener('click', () => turn(-1));
  pager.next.addEventListener('click', () => turn(1));

  body.addEventListener('click', (event) => {
    const button = event.target.closest('button.download-prg');
    if (!button) return;
    const {record} = rows[Number(button.dataset.row)];
    download(new Blob([record.prg], {type: 'application/octet-stream'}), prgName(record.shown[0]));
  });

  function sort(column) {
    descending = sortBy === column ? !descending : false;
    sortBy = column;
    headings.forEach((th, i) => {
      if (i === column) th.setAttribute('aria-sort', descending ? 'descending' : 'ascending');
      else th.removeAttribute('aria-sort');
    });
    view = null;
    page = 0;
    render();
  }

  return {
    /**
     * Rows for tapes' records: tapes, a list of {tape, records, place}, tape
     * being its path in its folder or archive, records with prg, the PRG
     * file of a program that loads, and place an array of numbers: rows
     * stand in the order of places until a column is sorted.
     */
    add(tapes) {
      const added = [];
      for (const {tape, records, place} of tapes) {
        records.forEach((record, i) => added.push({
          tape, record, place: [...place, i], index: rows.length + added.length,
          search: `${tape}\n${record.shown[0]}\n${record.shown[1]}`.toLowerCase()}));
      }
      if (added.length === 0) return;
      rows.push(...added);
      added.sort((a, b) => (before(a.place, b.place) ? -1 : 1));
      // Tapes mostly finish in the page's order: merge, most often an append.
      const merged = [];
      let k = 0;
      for (const row of ordered) {
        while (k < added.length && before(added[k].place, row.place)) merged.push(added[k++]);
        merged.push(row);
      }
      merged.push(...added.slice(k));
      ordered.splice(0, ordered.length, ...merged);
      view = null;
      render();
    },
    /** Names shown as -e shows them, or not. */
    setEscape(on) {
      escape = on;
      render();
    },
    /** Shows only rows whose tape or name holds text, in any case. */
    filter(text) {
      query = text.toLowerCase();
      view = null;
      page = 0;
      render();
    },
    /** How many rows there are, and how many the filter lets through. */
    counts() {
      return {all: rows.length, shown: shown().length};
    },
    /** Every row the filter lets through, in the order shown, as CSV fields. */
    csvRows() {
      return shown().map((row) => COLUMNS.map(([, text]) => text(row, escape)));
    },
    clear() {
      rows.length = 0;
      ordered.length = 0;
      view = null;
      page = 0;
      render();
    },
  };
}
