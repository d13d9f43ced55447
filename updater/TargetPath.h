#pragma once

// The updater runs with the highest privileges the user has, and the paths of
// a definition come from a server. These checks keep every file it writes
// inside the game folder and every address it fetches under the base address.

// True for a relative path whose components (split at "\" and "/") are all
// named: not empty, no drive or stream colon, no leading separator (root or
// UNC), no trailing separator, and no component made only of dots and blanks
// ("..", ". .", "..."), which the platform would read as a parent or drop.
bool IsSafeTargetPath(const char* path);

// True for a source path that keeps the download address under the base
// address: no leading "/" or "\", no "\" at all, no colon, and no component
// made only of dots (also written as %2e). An empty source path fetches the
// base address itself and is allowed.
bool IsSafeSourcePath(const char* path);
