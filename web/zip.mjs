// Zip archives and gzip files as they hold tapes: the archive's directory,
// and each member's bytes, inflated by the platform, piece by piece. Nothing
// is read whole: a member and an archive may pass 4 GiB.

/** A fault of the whole archive, or of one member, said for people. */
export class ArchiveError extends Error {}

const CP437_HIGH =
  'ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»░▒▓│┤╡╢╖╕╣║╗╝╜╛┐' +
  '└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00a0';

/** A member's name: UTF-8 when the archive says so (flag bit 11), else IBM PC code page 437. */
export function memberName(bytes, utf8) {
  if (utf8) return new TextDecoder('utf-8').decode(bytes);
  let s = '';
  for (const b of bytes) s += b < 0x80 ? String.fromCharCode(b) : CP437_HIGH[b - 0x80];
  return s;
}

export const isTapeName = (name) => /\.tap$/i.test(name);
export const isZipName = (name) => /\.zip$/i.test(name);
export const isGzipTapeName = (name) => /\.tap\.gz$/i.test(name);

async function bytesAt(file, start, length) {
  if (start < 0 || start + length > file.size) throw new ArchiveError('the archive is cut short');
  return new DataView(await file.slice(start, start + length).arrayBuffer());
}

const u64 = (v, at) => v.getUint32(at, true) + v.getUint32(at + 4, true) * 2 ** 32;

// The end of the central directory: where it is and how many entries it has.
async function directoryEnd(file) {
  const tail = Math.min(file.size, 22 + 0xFFFF);
  const v = await bytesAt(file, file.size - tail, tail);
  let at = -1;
  for (let i = tail - 22; i >= 0; i--) {
    if (v.getUint32(i, true) === 0x06054b50 && i + 22 + v.getUint16(i + 20, true) <= tail) {
      at = i;
      break;
    }
  }
  if (at < 0) {
    const head = file.size >= 4 ? await bytesAt(file, 0, 4) : null;
    if (head && head.getUint32(0, true) === 0x04034b50)
      throw new ArchiveError('the archive is cut short: its directory, at the end, is missing');
    throw new ArchiveError('this file is not a zip archive');
  }
  let entries = v.getUint16(at + 10, true), size = v.getUint32(at + 12, true), offset = v.getUint32(at + 16, true);
  if (entries === 0xFFFF || size === 0xFFFFFFFF || offset === 0xFFFFFFFF) {
    // ZIP64: a locator just before points at the larger record.
    const locatorAt = file.size - tail + at - 20;
    const loc = await bytesAt(file, locatorAt, 20);
    if (loc.getUint32(0, true) === 0x07064b50) {
      const rec = await bytesAt(file, u64(loc, 8), 56);
      if (rec.getUint32(0, true) !== 0x06064b50) throw new ArchiveError('the archive is damaged: its ZIP64 directory is missing');
      entries = u64(rec, 32);
      size = u64(rec, 40);
      offset = u64(rec, 48);
    }
  }
  return {entries, size, offset};
}

/**
 * The archive's members in its own order: {path, tape, method, encrypted,
 * crc, compressedSize, size, headerOffset}.
 */
export async function listArchive(file) {
  const end = await directoryEnd(file);
  if (end.offset + end.size > file.size) throw new ArchiveError('the archive is cut short: its directory is incomplete');
  const v = await bytesAt(file, end.offset, end.size);
  const members = [];
  for (let at = 0, n = 0; n < end.entries; n++) {
    if (at + 46 > v.byteLength || v.getUint32(at, true) !== 0x02014b50)
      throw new ArchiveError('the archive is damaged: its directory is unreadable');
    const flags = v.getUint16(at + 8, true);
    const nameLength = v.getUint16(at + 28, true), extraLength = v.getUint16(at + 30, true);
    const commentLength = v.getUint16(at + 32, true);
    const m = {
      method: v.getUint16(at + 10, true),
      encrypted: (flags & 1) !== 0,
      crc: v.getUint32(at + 16, true),
      compressedSize: v.getUint32(at + 20, true),
      size: v.getUint32(at + 24, true),
      headerOffset: v.getUint32(at + 42, true),
      nameLength, extraLength,
    };
    const nameAt = at + 46;
    if (nameAt + nameLength + extraLength > v.byteLength) throw new ArchiveError('the archive is damaged: its directory is unreadable');
    m.path = memberName(new Uint8Array(v.buffer, v.byteOffset + nameAt, nameLength), (flags & 0x800) !== 0);
    // ZIP64 sizes and offset, for the fields that hold all ones, in this order.
    for (let x = nameAt + nameLength; x + 4 <= nameAt + nameLength + extraLength;) {
      const id = v.getUint16(x, true), len = v.getUint16(x + 2, true);
      if (id === 0x0001) {
        let f = x + 4;
        for (const key of ['size', 'compressedSize', 'headerOffset']) {
          if (m[key] === 0xFFFFFFFF && f + 8 <= x + 4 + len) {
            m[key] = u64(v, f);
            f += 8;
          }
        }
      }
      x += 4 + len;
    }
    m.tape = isTapeName(m.path) && !m.path.endsWith('/');
    members.push(m);
    at = nameAt + nameLength + extraLength + commentLength;
  }
  return members;
}

/**
 * Inflates the compressed bytes that come from source with the platform's
 * DecompressionStream ("deflate-raw" or "gzip"), yielding the output as it
 * comes. Each compressed piece is written to the stream as it is, already
 * in memory; onRead(count) is told of each.
 */
export async function* inflate(source, format, onRead = () => {}) {
  const stream = new DecompressionStream(format);
  const writer = stream.writable.getWriter();
  const reader = stream.readable.getReader();
  const feeding = (async () => {
    for await (const piece of source) {
      await writer.write(piece);  // taken in before the next piece may reuse its memory
      onRead(piece.length);
    }
    await writer.close();
  })();
  feeding.catch(() => {});
  try {
    for (;;) {
      let result;
      try {
        result = await reader.read();
      } catch {
        throw new ArchiveError('its compressed data is damaged, so it could not be inflated');
      }
      if (result.done) break;
      yield result.value;
      // Used up: give its memory back now, not whenever the collector comes by.
      if (result.value.buffer.transfer) result.value.buffer.transfer(0);
    }
    await feeding.catch((e) => {
      throw e instanceof ArchiveError ? e : new ArchiveError('its compressed data is damaged, so it could not be inflated');
    });
  } finally {
    reader.cancel().catch(() => {});
  }
}

const SLICE = 4 << 20;

// Reads all of blob into buffer. A read moves the buffer, and the bytes come
// back on its new self, so no memory is taken anew. Returns them.
export async function readInto(blob, buffer) {
  const reader = blob.stream().getReader({mode: 'byob'});
  const size = Math.min(buffer.byteLength, blob.size);
  let filled = 0;
  try {
    while (filled < size) {
      const {value, done} = await reader.read(new Uint8Array(buffer, filled, size - filled));
      if (done) break;
      filled += value.byteLength;
      buffer = value.buffer;
    }
  } finally {
    await reader.cancel();  // an open reader holds on to the browser's resources
  }
  return new Uint8Array(buffer, 0, filled);
}

// The bytes of blob in slices, each read into the same buffer: a slice must
// be used up before the next is asked for. Memory stays the same whatever
// the blob's size.
export async function* reusedSlices(blob) {
  let buffer = new ArrayBuffer(Math.min(SLICE, blob.size));
  for (let at = 0; at < blob.size; at += SLICE) {
    const bytes = await readInto(blob.slice(at, Math.min(blob.size, at + SLICE)), buffer);
    yield bytes;
    buffer = bytes.buffer;
  }
}

/** A file read through slices of it: each read is a trip to the browser. */
export const fileSource = (file) => ({
  file,
  size: file.size,
  read: async (start, end) => new Uint8Array(await file.slice(start, end).arrayBuffer()),
});

/**
 * Part of a file already in memory, bytes holding the file's bytes from
 * offset on; reads outside it go to the file.
 */
export const memorySource = (file, bytes, offset) => ({
  size: file.size,
  read: async (start, end) => (start >= offset && end <= offset + bytes.length
    ? bytes.subarray(start - offset, end - offset) : fileSource(file).read(start, end)),
});

/** Where a member's data ends at the most, as far as its directory entry tells. */
export const memberEnd = (m) => m.headerOffset + 30 + m.nameLength + m.extraLength + 64 + m.compressedSize;

/**
 * The bytes of one tape member, as they come out of the archive (a source
 * from fileSource or memorySource); onRead counts the archive's bytes read.
 * Throws ArchiveError for what cannot be read.
 */
export async function* memberBytes(source, m, onRead = () => {}) {
  if (m.encrypted) throw new ArchiveError('it is encrypted, which the page cannot read');
  if (m.method !== 0 && m.method !== 8) throw new ArchiveError(`it is compressed with method ${m.method}, which the page cannot read`);
  // The local header and, for a small member, its data in one read.
  const first = await source.read(m.headerOffset, Math.min(source.size, m.compressedSize <= SLICE ? memberEnd(m) : m.headerOffset + 30 + 0xFFFF * 2));
  const h = new DataView(first.buffer, first.byteOffset, first.byteLength);
  if (first.byteLength < 30 || h.getUint32(0, true) !== 0x04034b50)
    throw new ArchiveError('the archive is cut short or damaged: this member is not where its directory says');
  const skip = 30 + h.getUint16(26, true) + h.getUint16(28, true);
  const start = m.headerOffset + skip;
  if (start + m.compressedSize > source.size) throw new ArchiveError('the archive is cut short: part of this member is missing');
  const data = (async function* () {
    if (skip + m.compressedSize <= first.byteLength) {
      if (m.compressedSize > 0) yield first.subarray(skip, skip + m.compressedSize);
      return;
    }
    if (source.file) {
      yield* reusedSlices(source.file.slice(start, start + m.compressedSize));
      return;
    }
    for (let at = start; at < start + m.compressedSize; at += SLICE)
      yield await source.read(at, Math.min(start + m.compressedSize, at + SLICE));
  })();
  if (m.method === 8) {
    yield* inflate(data, 'deflate-raw', onRead);
  } else {
    for await (const piece of data) {
      onRead(piece.length);
      yield piece;
    }
  }
}
