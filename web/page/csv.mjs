// The listing as a table: one row per name, for people cataloguing tapes.
// The names come as the core reports them, as data.

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

/**
 * file,number,name for every name of every [file, results] pair, results as
 * a scan gives them ({number, name}, name the bytes shown); numbered as the
 * listing numbers them (001, 002, ...); CR LF line ends.
 */
export function toCsv(listing) {
  const lines = ['file,number,name'];
  for (const [file, results] of listing) {
    for (const {number, name} of results)
      lines.push([file, String(number).padStart(3, '0'), bytesToText(name)].map(csvField).join(','));
  }
  return lines.join('\r\n') + '\r\n';
}
