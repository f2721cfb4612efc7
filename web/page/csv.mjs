// The catalogue as a CSV file, for people cataloguing tapes: a row per
// file, as the page's table shows it.

/** Bytes as the program wrote them, one character per byte. */
export function bytesToText(bytes) {
  let s = '';
  for (let i = 0; i < bytes.length; i += 8192) s += String.fromCharCode(...bytes.subarray(i, i + 8192));
  return s;
}

/** One field, quoted where it holds a comma, a quote or a line break. */
export function csvField(value) {
  return /[",\r\n]/.test(value) ? `"${value.replaceAll('"', '""')}"` : value;
}

/** Rows of fields, under a row of column names; CR LF line ends. */
export function toCsv(columns, rows) {
  return [columns, ...rows].map((row) => row.map(csvField).join(',')).join('\r\n') + '\r\n';
}
