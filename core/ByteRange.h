#pragma once

#include <cstddef>
#include <cstdint>

// A request for part of a file (HTTP's Range) and the check of what the
// server says it sent (Content-Range). Only one range per request: a server
// that honours Range answers 206 with exactly "bytes FIRST-LAST/TOTAL".

// "Range: bytes=FIRST-LAST\r\n" for length bytes (at least 1) from offset,
// into out of capacity bytes; false when it does not fit.
bool RangeRequestHeader(char* out, size_t capacity, uint32_t offset, uint32_t length);

// Whether a Content-Range value is exactly the answer to that request for a
// file of total bytes: decimal numbers without signs, spaces or leading
// zeros, nothing before or after.
bool ContentRangeAnswers(const char* value, uint32_t offset, uint32_t length, uint32_t total);
