// The zip format as archives of tapes use it: the directory at the end of
// the archive (ZIP64 too), each member's entry, and its local header. Only
// the parts needed are read: a member and an archive may pass 4 GiB.
import {readBytes, slices} from './read.mjs';

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

async function bytesAt(file, start, length) {
  if (start < 0 || start + length > file.size) throw new ArchiveError('the archive is cut short');
  const bytes = await readBytes(file.slice(start, start + length));
  return new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
}

const LOCAL_HEADER = 0x04034b50, DIRECTORY_END = 0x06054b50;

/** Whether bytes start as a zip archive does: a member's local header, or the end of a directory with no members. */
export function startsAsZip(bytes) {
  if (bytes.length < 4) return false;
  const first = new DataView(bytes.buffer, bytes.byteOffset, 4).getUint32(0, true);
  return first === LOCAL_HEADER || first === DIRECTORY_END;
}

const u64 = (v, at) => v.getUint32(at, true) + v.getUint32(at + 4, true) * 2 ** 32;

// The end of the central directory: where it is and how many entries it has.
async function directoryEnd(file) {
  const tail = Math.min(file.size, 22 + 0xFFFF);
  const v = await bytesAt(file, file.size - tail, tail);
  let at = -1;
  for (let i = tail - 22; i >= 0; i--) {
    if (v.getUint32(i, true) === DIRECTORY_END && i + 22 + v.getUint16(i + 20, true) <= tail) {
      at = i;
      break;
    }
  }
  if (at < 0) {
    const head = file.size >= 4 ? await bytesAt(file, 0, 4) : null;
    if (head && head.getUint32(0, true) === LOCAL_HEADER)
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
 * The archive's members in its own order: {path, method, encrypted, crc,
 * compressedSize, size, headerOffset, nameLength, extraLength}.
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
    members.push(m);
    at = nameAt + nameLength + extraLength + commentLength;
  }
  return members;
}

/** Where a member's data ends at the most, as far as its directory entry tells. */
export const memberEnd = (m) => m.headerOffset + 30 + m.nameLength + m.extraLength + 64 + m.compressedSize;

/** Bytes from a member's header on that surely hold its local header. */
export const LOCAL_HEADER_MAX = 30 + 0xFFFF * 2;

/** Throws for a member the page cannot read at all: encrypted, or compressed some other way. */
export function checkReadable(m) {
  if (m.encrypted) throw new ArchiveError('it is encrypted, which the page cannot read');
  if (m.method !== 0 && m.method !== 8) throw new ArchiveError(`it is compressed with method ${m.method}, which the page cannot read`);
}

/** Where a member's data starts, from its header on, given the bytes there. */
export function dataOffset(header) {
  const h = new DataView(header.buffer, header.byteOffset, header.byteLength);
  if (header.byteLength < 30 || h.getUint32(0, true) !== LOCAL_HEADER)
    throw new ArchiveError('the archive is cut short or damaged: this member is not where its directory says');
  return 30 + h.getUint16(26, true) + h.getUint16(28, true);
}

/**
 * A member's compressed bytes, piece by piece, from a source (read.mjs's
 * fileSource or memorySource): its local header and, for a member of at
 * most slice bytes, its data in one read; a larger one in slices of the file.
 * found, when given, hears where in the file its data starts.
 */
export async function* memberBytes(source, m, {slice}, found = () => {}) {
  checkReadable(m);
  const small = m.compressedSize <= slice;
  const first = await source.read(m.headerOffset, Math.min(source.size, small ? memberEnd(m) : m.headerOffset + LOCAL_HEADER_MAX));
  const skip = dataOffset(first);
  const start = m.headerOffset + skip;
  if (start + m.compressedSize > source.size) throw new ArchiveError('the archive is cut short: part of this member is missing');
  found(start);
  if (skip + m.compressedSize <= first.byteLength) {
    if (m.compressedSize > 0) yield first.subarray(skip, skip + m.compressedSize);
    return;
  }
  yield* slices(source.file.slice(start, start + m.compressedSize), {slice});
}

const hex = (n) => n.toString(16).padStart(8, '0');

/** What is wrong with a member that gave bytes of check {crc, size}, as its directory entry has it; null for nothing. */
export function memberCheck(m, {crc, size}) {
  if (size !== m.size)
    return `it inflated to ${size.toLocaleString('en')} bytes where the archive records ${m.size.toLocaleString('en')}`;
  if (crc !== m.crc) return `its CRC-32 is ${hex(crc)} where the archive records ${hex(m.crc)}: the data is damaged`;
  return null;
}
