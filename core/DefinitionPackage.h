#pragma once

#include <cstddef>
#include <cstdint>

// Rules of the definition package that the program's fetch and offline open
// apply, and that fernup-pack applies again when it predicts what the program
// will do: one place, so the two cannot drift apart.

// The package's own files, beside the update's files in an offline package.
constexpr char kDefinitionFileName[] = "update.qdv";
constexpr char kDigestFileName[] = "MD5.txt";
constexpr char kReadmeFileName[] = "readme.txt";
constexpr char kSignatureFileName[] = "update.sig";

// True when name is one of the package's own files, ASCII letters in any
// case: an update's file of that name would lie where that file lies.
bool IsPackageFileName(const char* name);

// The key of a definition's numberth file line: "FILE" and three digits
// (FILE001 to FILE999), into key of kFileKeyCapacity bytes.
constexpr size_t kFileKeyCapacity = 16;
void FormatFileKey(char* key, int32_t number);

// The fetch keeps at most these many bytes of each file; a longer body is cut.
constexpr uint32_t kDefinitionAreaSize = 65536;  // update.qdv
constexpr uint32_t kDigestAreaSize = 8192;       // MD5.txt
constexpr uint32_t kReadmeAreaSize = 32768;      // readme.txt
// An offline update.qdv is read up to this, where the fetch would cut it at
// kDefinitionAreaSize: the longest file list that the program reads (999
// lines of 255 characters) takes about 260 KiB, and a package on disk made
// for many files is not refused for a limit of the network's, while a huge
// file in a chosen folder is still not read whole.
constexpr uint32_t kOfflineDefinitionSize = 512 * 1024;

// True when digestText (MD5.txt's bytes) is exactly the 32 lower-case
// hexadecimal characters of the MD5 of the definition's bytes: no line end,
// no blank, no upper case.
bool DigestTextAccepts(const char* definition, uint32_t definitionLength, const char* digestText,
                       uint32_t digestLength);
