// Ctrl-C, or a kill, while brivane-tap reads: a recording still being made
// (from a pipe or a device) is ended there, its TAP finished with what came
// before; a file's TAP is given up. The program then ends as the signal
// would have ended it.
#ifndef BRIVANE_CLI_INTERRUPT_H
#define BRIVANE_CLI_INTERRUPT_H

/// From now on SIGINT, SIGTERM and SIGHUP (those not already ignored, as a
/// job started in the background has them) are noted instead of ending the
/// process, and a read waiting for more returns as at the end.
void catch_interrupts();
/// Whether one has come.
bool interrupted();
/// Ends the process as the one that came would have; returns where none
/// came, or where the system cannot (Windows).
void end_as_interrupted();

#endif
