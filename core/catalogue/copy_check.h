// Whether a block of a file loads.
#ifndef BRIVANE_CATALOGUE_COPY_CHECK_H
#define BRIVANE_CATALOGUE_COPY_CHECK_H

/// Which copy of a block could be loaded: the first, only the repeat (the
/// ROM writes each block twice), neither (both are damaged or cut short),
/// or there is none at all; none: the format keeps no checksum to hold.
enum class copy_check { ok, repeat, damaged, missing, none };

#endif
