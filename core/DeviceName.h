#pragma once

#include <cstddef>

// Windows opens these names as devices in any folder: CON, PRN, AUX, NUL,
// COM1 to COM9 and LPT1 to LPT9, in any letter case, also with an extension
// or with blanks or dots after them ("AUX.txt", "lpt1 .dat", "nul."). A file
// the updater would write under such a name writes to the device instead, or
// hangs on it. The program and fernup-pack both refuse them through this.

// True when the length bytes at name, one path component, name a device.
bool IsDeviceName(const char* name, size_t length);

// Looks through the components of a path (split at "\" and "/", two-byte
// characters whole) for one that names a device; true when there is one,
// with its offset and length in *start and *length.
bool FindDeviceComponent(const char* path, size_t* start, size_t* length);
