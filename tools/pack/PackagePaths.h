#pragma once

#include <filesystem>
#include <string>

// How the paths of a definition meet the disks and the web server.
//
// A target path is Shift-JIS with "\" between folders; it names the installed
// file and, by its last component, the copy in the work folder and in an
// offline package. The Windows program hands these names to the platform in
// code page 932, so on a Linux disk (and under Wine) the same file bears the
// UTF-8 form of that name.
//
// A source path is appended to the base address as it is. The program sends
// its bytes unchanged (Wine was seen to send Shift-JIS bytes raw), and whether
// a server finds a file by raw Shift-JIS bytes depends on the server. So the
// tool writes online source paths in ASCII only: every byte outside a small safe
// set of the UTF-8 name percent-encoded. A server that maps addresses to UTF-8
// file names (nginx and Apache on Linux, IIS) then finds the file under its
// ordinary name, whatever the client.

// A file system path from UTF-8 text, and back.
std::filesystem::path PathOfUtf8(const std::string& utf8);
std::string Utf8OfPath(const std::filesystem::path& path);
// The path made absolute and plain: no "." or "..", no separator at its end.
std::filesystem::path WholePath(const std::filesystem::path& path);

// The same with "/" between folders on every platform.
std::string GenericUtf8OfPath(const std::filesystem::path& path);

// The source path of a file: prefix, then the "/"-separated UTF-8 relative path
// with every byte that is not a letter, a digit or one of - . _ ~ / ! $ & ' ( )
// * + ; = @ written as %XX (upper-case hexadecimal).
std::string EncodeSourcePath(const std::string& prefix, const std::string& utf8RelativePath);

// Decodes the %XX escapes of an address path into bytes; false when an escape
// is malformed (the server would refuse the request).
bool DecodeAddressPath(const std::string& path, std::string* bytes);

// The address the program fetches for a source path: base address and source
// path joined as they are, then blanks, control bytes, two-byte characters and
// the bytes that addresses may not hold escaped, so that any HTTP client asks
// the server for the bytes the program asks for.
std::string RequestAddress(const std::string& baseAddress, const std::string& sourcePath);

// Where a server that maps addresses to files finds a source path under its
// root: the decoded bytes as the file name (on Windows read as UTF-8, or as
// Shift-JIS when they are not UTF-8). False for a malformed escape.
bool ServedFilePath(const std::filesystem::path& root, const std::string& sourcePath,
                    std::filesystem::path* file);

// The disk path of a Shift-JIS name ("\" or "/" between folders) under root;
// false when the name is not valid Shift-JIS.
bool DiskPathOfName(const std::filesystem::path& root, const std::string& sjisName,
                    std::filesystem::path* file);

// The offline copy of a file named sjisName in folder, found as the program
// finds it: Windows (and Wine on a Linux disk) ignores letter case as
// FoldedName does. False when there is none, *file then the exact name.
bool FindOfflineCopy(const std::filesystem::path& folder, const std::string& sjisName,
                     std::filesystem::path* file);

// Last component of a target path: the text after its last "\" outside
// two-byte characters, or all of it.
std::string LastComponent(const std::string& sjisTarget);

// The name as the Windows file system compares it: ASCII letters and the
// two-byte Latin, Greek and Cyrillic letters of code page 932 in upper case.
// Two names with the same folded form are one file in a game or work folder.
std::string FoldedName(const std::string& sjis);

// The name under which a listed file's copy is made: its target's last
// component, folded. Two files of one such name and different bytes cannot
// both be had: offline they would be one file beside update.qdv, and a
// program of an earlier build keeps one copy per name in its work folder, so
// the earlier file would fail its check once installed. kOneNameTwoFiles
// tells the publisher so.
std::string CopyName(const std::string& sjisTarget);
extern const char kOneNameTwoFiles[];
