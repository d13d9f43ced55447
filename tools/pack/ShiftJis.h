#pragma once

#include <string>

// The definition and update.log hold Shift-JIS (code page 932); the terminal,
// the command line and file names on a Linux disk hold UTF-8. These convert
// between the two for fernup-pack. Natively they use glibc's iconv, on Windows
// MultiByteToWideChar and WideCharToMultiByte, so both builds map characters
// the way the Windows code page does.

// Refuses (returns false, *sjis unspecified) text that is not valid UTF-8 or
// holds a character without an exact Shift-JIS counterpart. "Exact" means the
// round trip gives the same text back: WAVE DASH and FULLWIDTH TILDE share one
// code, and a name written with the first would come back as the second.
bool Utf8ToShiftJis(const std::string& utf8, std::string* sjis);

// Refuses text that is not valid Shift-JIS.
bool ShiftJisToUtf8(const std::string& sjis, std::string* utf8);

// Shift-JIS text for a person to read: its UTF-8 form, or, when it is not
// valid Shift-JIS, the printable ASCII bytes with every other byte as \xNN.
std::string Readable(const std::string& sjis);
