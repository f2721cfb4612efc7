// The catalogue as one table for everything read: a row for each file on
// each tape, the ROM's and the turbo loaders', and for each stretch no
// loader explains, found by a filter as it is typed, sorted by any column,
// each program to be downloaded as a PRG file. Its cells, CSV lines and the PRG
// files' names are the core's, as the workers send them with each record;
// this knows the table's elements, nothing of how tapes are read.

const escapeHtml = (text) => text.replace(/[&<>"]/g, (c) => ({'&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;'})[c]);

// Whether place a comes before place b: arrays of numbers, compared in turn.
function before(a, b) {
  for (let i = 0; i < Math.min(a.length, b.length); i++) if (a[i] !== b[i]) return a[i] < b[i];
  return a.length < b.length;
}

const CHECK_ORDER = {ok: 0, repeat: 1, damaged: 2, missing: 3, none: 4};

// The key each column sorts by, by its name in the CSV; a cell's text is the core's.
const KEYS = {
  tape: (row) => row.tape,
  number: (row) => row.record.number || Infinity,
  name: (row, at) => row.record.cells[1][at.name],
  type: (row) => row.record.type,
  start: (row) => row.record.start,
  end: (row) => row.record.end,
  size: (row) => (row.record.kind === 'file' && row.record.end >= row.record.start ? row.record.end - row.record.start : -1),
  position: (row) => row.record.seconds,
  header: (row) => CHECK_ORDER[row.record.header],
  program: (row) => CHECK_ORDER[row.record.programCheck],
  loader: (row, at) => row.record.cells[0][at.loader],
};

/** Rows shown at once: the rest are a page away. */
export const PAGE_ROWS = 50;

class CatalogueTable {
  constructor(table, pager, {download, changed, escape = false}) {
    this.table = table;
    this.body = table.tBodies[0];
    this.pager = pager;
    this.changed = changed;
    this.rows = [];     // every row, in the order read
    this.ordered = [];  // every row, in the page's order: tapes as picked, members in their archive's
    this.view = null;   // the rows the filter lets through, in the order shown; null when to be found anew
    this.escape = escape;
    this.sortBy = -1;
    this.descending = false;
    this.query = '';
    this.page = 0;
    this.headings = [];
    this.names = [];
    this.shownColumns = [];
    this.at = {};  // each column's place among a record's cells, by its CSV name
    this.csvHeading = '';
    pager.previous.addEventListener('click', () => this.turn(-1));
    pager.next.addEventListener('click', () => this.turn(1));
    this.body.addEventListener('click', (event) => {
      const button = event.target.closest('button.download-prg');
      if (!button) return;
      const {record} = this.rows[Number(button.dataset.row)];
      download(new Blob([record.prg], {type: 'application/octet-stream'}), record.prgName);
    });
  }

  cellText(row, i) {
    return i === 0 ? row.tape : row.record.cells[this.escape ? 1 : 0][i - 1];
  }

  rowHtml(row) {
    const cells = this.shownColumns.map((i) => {
      let inner = escapeHtml(this.cellText(row, i));
      if (i === this.at.program + 1 && row.record.prg) {
        const name = escapeHtml(row.record.prgName);
        inner += ` <button type="button" class="download-prg" data-row="${row.index}" aria-label="Download ${name}">PRG</button>`;
      }
      return i === this.at.name + 1 ? `<td class="name">${inner}</td>` : `<td>${inner}</td>`;
    });
    const {number, offset, kind, loader} = row.record;
    return `<tr data-tape="${escapeHtml(row.tape)}" data-number="${number}" data-offset="${offset}" ` +
      `data-kind="${kind}" data-loader="${escapeHtml(loader)}">${cells.join('')}</tr>`;
  }

  // The rows shown, in order: those the filter lets through, sorted by the column chosen.
  shown() {
    if (this.view) return this.view;
    this.view = this.ordered.filter((row) => this.query === '' || row.search.includes(this.query));
    if (this.sortBy >= 0) {
      const key = KEYS[this.names[this.sortBy]] || ((row) => this.cellText(row, this.sortBy));  // sortBy: a place in headings
      const keyed = this.view.map((row, i) => [key(row, this.at), i, row]);
      keyed.sort(([a, i], [b, j]) => {
        const c = typeof a === 'string' ? a.localeCompare(b) : a - b;
        return (this.descending ? -c : c) || i - j;
      });
      this.view = keyed.map(([, , row]) => row);
    }
    return this.view;
  }

  // Puts the page of rows in the table, and says where it is.
  render() {
    const all = this.shown();
    const pages = Math.max(1, Math.ceil(all.length / PAGE_ROWS));
    this.page = Math.min(this.page, pages - 1);
    const first = this.page * PAGE_ROWS;
    this.body.innerHTML = all.slice(first, first + PAGE_ROWS).map((row) => this.rowHtml(row)).join('');
    const {where, previous, next} = this.pager;
    where.textContent = all.length === 0 ? (this.rows.length ? 'No row matches.' : '')
      : `Rows ${(first + 1).toLocaleString('en')} to ${Math.min(first + PAGE_ROWS, all.length).toLocaleString('en')} ` +
        `of ${all.length.toLocaleString('en')}`;
    previous.disabled = this.page === 0;
    next.disabled = this.page >= pages - 1;
    previous.parentElement.hidden = pages === 1;
    this.changed();
  }

  turn(by) {
    this.page += by;
    this.render();
    this.table.parentElement.scrollIntoView({block: 'nearest'});
  }

  // Sorts by the column at place column in headings.
  sort(column) {
    this.descending = this.sortBy === column ? !this.descending : false;
    this.sortBy = column;
    [...this.table.tHead.rows[0].cells].forEach((th, i) => {
      if (this.shownColumns[i] === column) th.setAttribute('aria-sort', this.descending ? 'descending' : 'ascending');
      else th.removeAttribute('aria-sort');
    });
    this.view = null;
    this.page = 0;
    this.render();
  }

  /**
   * The columns' headings, the tape's first, their CSV names, the order the
   * table shows them in and the CSV's first line, as the core gives them.
   */
  setColumns({headings, names, shown, csv}) {
    if (this.headings.length) return;
    this.headings = headings;
    this.names = names;
    this.shownColumns = shown;
    names.slice(1).forEach((name, i) => {
      this.at[name] = i;
    });
    this.csvHeading = csv;
    this.table.tHead.rows[0].replaceChildren(...shown.map((i) => {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = headings[i];
      button.addEventListener('click', () => this.sort(i));
      const th = document.createElement('th');
      th.scope = 'col';
      th.append(button);
      return th;
    }));
  }

  /**
   * Rows for tapes' records: tapes, a list of {tape, records, place}, tape
   * being its path in its folder or archive, records with their cells,
   * CSV lines, and prg, the PRG file of a program that loads; place an
   * array of numbers: rows stand in the order of places until a column is
   * sorted.
   */
  add(tapes) {
    const added = [];
    for (const {tape, records, place} of tapes) {
      records.forEach((record, i) => added.push({
        tape, record, place: [...place, i], index: this.rows.length + added.length,
        search: [tape, record.cells[0][this.at.name], record.cells[1][this.at.name], record.cells[0][this.at.loader]]
          .join('\n').toLowerCase()}));
    }
    if (added.length === 0) return;
    this.rows.push(...added);
    added.sort((a, b) => (before(a.place, b.place) ? -1 : 1));
    // Tapes mostly finish in the page's order: merge, most often an append.
    const merged = [];
    let k = 0;
    for (const row of this.ordered) {
      while (k < added.length && before(added[k].place, row.place)) merged.push(added[k++]);
      merged.push(row);
    }
    merged.push(...added.slice(k));
    this.ordered.splice(0, this.ordered.length, ...merged);
    this.view = null;
    this.render();
  }

  /** Names shown as -e shows them, or not. */
  setEscape(on) {
    this.escape = on;
    this.render();
  }

  /** Shows only rows whose tape, name or loader holds text, in any case. */
  filter(text) {
    this.query = text.toLowerCase();
    this.view = null;
    this.page = 0;
    this.render();
  }

  /** How many rows there are, and how many the filter lets through. */
  counts() {
    return {all: this.rows.length, shown: this.shown().length};
  }

  /** The CSV of every row the filter lets through, in the order shown, names as shown. */
  csv() {
    return this.csvHeading + this.shown().map((row) => row.record.csv[this.escape ? 1 : 0]).join('');
  }

  clear() {
    this.rows.length = 0;
    this.ordered.length = 0;
    this.view = null;
    this.page = 0;
    this.render();
  }
}

/**
 * The table in table (a <table> with a <thead> row to fill and a <tbody>),
 * a page of rows at a time, turned with pager's previous and next buttons
 * and told in its where element: a browser lays out and keeps every row it
 * is given, and a collection can have tens of thousands.
 * download(blob, name) saves a file; changed() hears of every change to
 * what is shown; escape: names start shown as -e shows them.
 */
export function createTable(table, pager, options) {
  return new CatalogueTable(table, pager, options);
}
