// The listing as a table: one row per name, for people cataloguing tapes.

/** Bytes as the program wrote them, one character per byte. */
export function bytesToText(bytes) {
  let s = '';
  for (let i = 0; i < bytes.length; i += 8192) s += String.fromCharCode(...bytes.subarray(i, i + 8192));
  return s;
}

/** [number, name] for each result line of the program's output. */
export function namesIn(output) {
  const rows = [];
  for (const line of output.split('\n')) {
    const m = /^FOUND(?: \((\d+)\))?: "(.*)"$/s.exec(line);
    if (m) rows.push([m[1] ?? '001', m[2]]);
  }
  return rows;
}

/** One field, quoted where it holds a comma, a quote or a line break. */
export function csvField(value) {
  return /[",\r\n]/.test(value) ? `"${value.replaceAll('"', '""')}"` : value;
}

/** file,number,name for every name of every [file, output] pair, CR LF line ends. */
export function toCsv(listing) {
  const lines = ['file,number,name'];
  for (const [file, output] of listing)
    for (const [number, name] of namesIn(output)) lines.push([file, number, name].map(csvField).join(','));
  return lines.join('\r\n') + '\r\n';
}
