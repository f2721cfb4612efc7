// The TAP file's own parts in the module: the machines a TAP is made for
// and the clocks its pulses count in, its 20-byte header, and the name of
// a TAP made from a recording. The names and clocks are the core's.
import {concat} from './core.mjs';

export function tapLayer(c) {
  const {core} = c;
  const machineNumber = (name) => core._bv_machine_named(...c.input(String(name)));
  const clockOf = (m) => core._bv_machine_clock(m);

  /**
   * The machine a TAP is made for, and the clock its pulses count in:
   * {machine: 'c64-pal' | 'c64-ntsc' | 'vic20-pal' | 'vic20-ntsc'}, or
   * {clock: 'pal' | 'ntsc'} for the C64's, or a clock in Hz (a C64 PAL
   * header).
   */
  function machineOf({machine, clock} = {}) {
    const known = () => JSON.parse(c.textOut(core._bv_machines())).map((m) => `'${m.name}'`);
    if (machine !== undefined) {
      const m = machineNumber(machine);
      if (m < 0) throw new Error(`no such machine: ${machine} (give ${known().join(', ')})`);
      return {machine: m, clock: clockOf(m)};
    }
    if (typeof clock === 'number') {
      if (!(clock > 0)) throw new Error(`no such clock: ${clock} (give 'pal', 'ntsc' or a rate in Hz)`);
      return {machine: machineNumber('c64-pal'), clock};
    }
    const m = machineNumber(clock ?? 'c64-pal');
    if (m < 0) throw new Error(`no such clock: ${clock} (give 'pal', 'ntsc' or a rate in Hz)`);
    return {machine: m, clock: clockOf(m)};
  }

  /** The 20 bytes in front of a TAP file (version 1) of size pulse bytes, made on a machine. */
  const tapHeader = (size, options = {}) => {
    const ptr = core._bv_tap_header(size, machineOf(options).machine);
    return core.HEAPU8.slice(ptr, ptr + 20);
  };

  return {
    machineOf,
    tapHeader,
    /** The TAP file (version 1) holding the pulses of parts, in order, made on a machine. */
    tapFile: (parts, options = {}) => concat([tapHeader(parts.reduce((n, p) => n + p.length, 0), options), ...parts]),
    /** The machines a TAP can be made for, as offered, the default first: [{name, label}]. */
    machines: () => JSON.parse(c.textOut(core._bv_machines())),
    /** The TAP file's name made from a recording's: its extension, if any, made .tap. */
    tapNameFor: (name) => c.textOut(core._bv_tap_name(...c.input(String(name)))),
  };
}
