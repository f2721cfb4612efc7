// WAV recordings in the module: a recording's bytes through the core's own
// reader and converter into TAP pulses, piece by piece; its faults in the
// core's words.
import {concat} from './core.mjs';

export function recordingLayer(c, {machineOf, tapFile}) {
  const {core} = c;

  /** The pulses a converter has made since they were last taken. */
  const pulsesOf = (handle) => {
    const ptr = core._bv_recording_pulses(handle);
    const out = core.HEAPU8.slice(ptr, ptr + core._bv_recording_pulses_size(handle));
    core._bv_recording_taken(handle);
    return out;
  };
  /** What is wrong with a converter's recording, in words; null for nothing. */
  const faultOf = (handle) => c.textOut(core._bv_recording_fault(handle)) || null;

  // A WAV recording turned into pulses piece by piece.
  function openRecording(options = {}) {
    const handle = core._bv_recording_new(machineOf(options).clock);
    let fault = null, open = true;
    const live = () => {
      if (!open) throw new Error('recording is closed');
    };
    return {
      /** Feeds the next piece of the file; returns the pulses it yields. */
      feed(bytes) {
        live();
        const parts = [];
        c.inParts(bytes, (ptr, n) => {
          if (fault) return false;
          if (!core._bv_recording_feed(handle, ptr, n)) fault = faultOf(handle);
          parts.push(pulsesOf(handle));
          return true;
        });
        return concat(parts);
      },
      /** The file has ended: returns the last pulses. */
      finish() {
        live();
        if (!fault && !core._bv_recording_finish(handle)) fault = faultOf(handle);
        return pulsesOf(handle);
      },
      /** What is wrong with the recording, in words, or null. */
      fault: () => fault,
      /** Once finished: whether the file held less sound than its header says. */
      soundMissing() {
        live();
        return core._bv_recording_sound_missing(handle) !== 0;
      },
      close() {
        if (open) core._bv_recording_free(handle);
        open = false;
      },
    };
  }

  return {
    openRecording,
    pulsesOf,
    faultOf,
    /**
     * The TAP file (version 1) made from a WAV recording of a cassette:
     * its pulses behind the 20-byte header. Throws an Error saying what is
     * wrong with a file that is not a recording it can read, or holds no tape.
     */
    recordingToTap(bytes, options = {}) {
      const rec = openRecording(options);
      try {
        const parts = [rec.feed(bytes), rec.finish()];
        if (rec.fault()) throw new Error(`Could not read this recording: ${rec.fault()}`);
        return tapFile(parts, options);
      } finally {
        rec.close();
      }
    },
  };
}
