// What the page and its workers say to each other, and the kinds of file the
// page reads by their names. Every message is a plain object with a type.
//
// Page to worker, a job each (the file or blob goes along; the worker reads
// it); name is the path the page shows for the tape, which its CSV lines
// carry. To cancel, the page stops the worker:
//   {type: 'tape',      id, name, file, machine}  a plain tape
//   {type: 'gzip',      id, name, file, machine}  a gzipped tape
//   {type: 'recording', id, name, file, machine}  a recording of a cassette (WAV,
//                                                 FLAC, Ogg, MP3), its TAP made
//                                                 for the machine named
//   {type: 'file',      id, name, file, machine}  a file picked by a name the page
//                                                 does not know: its contents say
//                                                 whether it is a recording or a tape
//   {type: 'archive',   id, name, file, member, depth}
//                                                 list a zip archive's members; with
//                                                 member, the archive is that member of
//                                                 file, lying inside depth archives
//   {type: 'member',    id, name, file, member, kind, machine}
//                                                 one large member, by itself
//   {type: 'batch',     file, start, end, machine, members: [{id, name, member, kind}]}
//                                                 small members side by side in the
//                                                 archive, read in one go; each gets
//                                                 its own reply
//   {type: 'core',      module}                   the first message: the core the first
//                                                 worker compiled (a WebAssembly.Module)
//                                                 to start from, or null to compile it
//   {type: 'bytes',     request, buffer} or {type: 'bytes', request, error}
//                                                 the answer to a worker's 'read'
//
// Worker to page:
//   {type: 'ready',     machines, columns, core}  its core has started: the machines
//                                                 a TAP can be made for, the table's
//                                                 column headings and the CSV's first
//                                                 line; core: the compiled core, where
//                                                 the browser can hand it over
//   {type: 'progress',  id, done, total}          bytes of the file read so far
//   {type: 'result',    id, kind, outputs, nameCount, catalogue, signature, error, tap, tapName}
//                                                 kind: 'tape' or 'recording', what
//                                                 was read; outputs: what the program
//                                                 prints, one Uint8Array per variant;
//                                                 nameCount: the names found; catalogue:
//                                                 its records, with their cells, CSV
//                                                 lines and PRG files; error, when it
//                                                 could not be read to its end; tap and
//                                                 tapName, for a recording: the TAP made
//                                                 from it, whose names these are
//   {type: 'listing',   id, members: [{member, kind}], file}
//                                                 an archive's members, in its order,
//                                                 each 'tape', 'gzip', 'recording',
//                                                 'archive' or 'other'; file: for an archive
//                                                 that is a member, its bytes (a Blob)
//   {type: 'error',     id, kind, message}        nothing could be read (kind: what it
//                                                 was taken for, where known)
//   {type: 'read',      request, blob}            this engine lets only the page's own
//                                                 thread read a picked file: read blob
//                                                 and answer with 'bytes'
//   {type: 'broken',    message}                  the worker's core could not start

/** The four listings each tape gives, keyed by the options they stand for. */
export const VARIANTS = [['', false, false], ['a', true, false], ['e', false, true], ['ae', true, true]];

// Recordings of cassettes, by their names; their contents say which format.
const RECORDING = /\.(wav|flac|oga|ogg|opus|mp3)$/i;

/**
 * The kind of job a picked file or an archive's member is, by its name:
 * 'tape', 'gzip', 'archive' or 'recording'; null for a name the page does
 * not know, or a folder's entry.
 */
export function kindOf(name) {
  if (name.endsWith('/')) return null;
  if (/\.tap$/i.test(name)) return 'tape';
  if (/\.tap\.gz$/i.test(name)) return 'gzip';
  if (/\.zip$/i.test(name)) return 'archive';
  if (RECORDING.test(name)) return 'recording';
  return null;
}
