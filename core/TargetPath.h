#pragma once

// The updater runs with the highest privileges the user has, and the paths of
// a definition come from a server. These checks keep every file it writes
// inside the game folder and every address it fetches under the base address.

// True for a relative path that stays inside the game folder: no drive or
// stream colon, no leading separator (root or UNC), no component made only of
// dots and blanks ("..", ". .", "...") that the platform would read as a
// parent, no component that names a device (DeviceName.h), and a named last
// component. Components split at "\" and "/"; inside the path a lone "." or
// an empty component (a doubled separator) is kept, as the platform reads
// them as no step at all and stored definitions hold them.
bool IsSafeTargetPath(const char* path);

// True for a source path that keeps the download address under the base
// address: no leading separator, no "\" at all, no colon, and no component
// that is empty or made only of dots. A server may decode the path before
// it splits it, so %2e counts as a dot and %2f and %5c as separators. An
// empty source path fetches the base address itself and is allowed.
bool IsSafeSourcePath(const char* path);

// True when a response from the address from may send the fetch on to the
// address to (absolute): to an http or https address, and from https only to
// https, so that what was asked for in private never travels in the clear.
bool MayFollowRedirect(const char* from, const char* to);
