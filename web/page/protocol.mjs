// What the page and its workers say to each other, and the kinds of file the
// page reads. Every message is a plain object with a type.
//
// Page to worker, a job each (the file or blob goes along; the worker reads
// it); to cancel, the page stops the worker:
//   {type: 'tape',    id, file}            a plain tape
//   {type: 'gzip',    id, file}            a gzipped tape
//   {type: 'recording', id, file, machine} a recording of a cassette (WAV, FLAC,
//                                          Ogg, MP3), its TAP made for the
//                                          machine named
//   {type: 'file',    id, file, machine}   a file picked by a name the page does
//                                          not know: its contents say whether
//                                          it is a recording or a tape
//   {type: 'archive', id, file}            list a zip archive's members
//   {type: 'member',  id, file, member, machine}
//                                          one large member, by itself
//   {type: 'batch',   file, start, end, machine, members: [{id, member}]}
//                                          small members side by side in the
//                                          archive, read in one go; each gets
//                                          its own reply
//   {type: 'bytes',   request, buffer} or {type: 'bytes', request, error}
//                                          the answer to a worker's 'read'
//
// Worker to page:
//   {type: 'progress',  id, done, total}   bytes of the file read so far
//   {type: 'result',    id, outputs, names, catalogue, signature, error, tap}
//                                          outputs: what the program prints, one
//                                          Uint8Array per variant; names: the
//                                          count the core found; error, when the
//                                          tape could not be read to its end;
//                                          tap, for a recording: the TAP file
//                                          made from it, whose names these are;
//                                          recording: it was one
//   {type: 'listing',   id, members}       an archive's members, in its order
//   {type: 'error',     id, message, recording}
//                                          nothing could be read (recording:
//                                          it was taken for a recording)
//   {type: 'read',      request, blob}     this engine lets only the page's own
//                                          thread read a picked file: read blob
//                                          and answer with 'bytes'
//   {type: 'broken',    message}           the worker's core could not start

/** The four scans each tape goes through, keyed by the options they stand for. */
export const VARIANTS = [['', false, false], ['a', true, false], ['e', false, true], ['ae', true, true]];

// Recordings of cassettes, by their names; their contents say which format.
const RECORDING = /\.(wav|flac|oga|ogg|opus|mp3)$/i;

/** The kind of job a picked file is, by its name; null for a name the page does not know. */
export function kindOf(name) {
  if (/\.tap$/i.test(name)) return 'tape';
  if (/\.tap\.gz$/i.test(name)) return 'gzip';
  if (/\.zip$/i.test(name)) return 'archive';
  if (RECORDING.test(name)) return 'recording';
  return null;
}

/** Whether a member of an archive, by its path, is a tape. */
export const isTapePath = (path) => /\.tap$/i.test(path) && !path.endsWith('/');

/** Whether a member of an archive, by its path, is a recording of one. */
export const isRecordingPath = (path) => RECORDING.test(path) && !path.endsWith('/');
