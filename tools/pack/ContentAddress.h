#pragma once

#include <cstddef>
#include <string>

// Where build puts a file online: an address that only ever holds one file's
// bytes, so that a cache may keep it for as long as it likes and a new release
// never writes over what an older one published.
//
//   <prefix><first 16 hex digits of the SHA-256 of the bytes>/<last name>
//
// 16 digits (64 bits) keep two different files of one site apart for any
// history a publisher will have: among a million different files, the chance
// that two share the digits is below 1 in 30 million, and publish refuses an
// address that already holds other bytes, so even then nothing is replaced.
// Fewer digits would leave more room for the name, more would buy nothing.
// The last name is there for people: the program's file list shows it, and
// it is cut (by whole characters, the extension kept where it can be) so that
// the whole source path stays within the definition's 63 bytes. Anything kept
// beside a file (a block index) is the file's address with a suffix, in the
// same folder.
constexpr size_t kAddressDigits = 16;

// The source path of a file with this SHA-256 (32 bytes) and this last name
// (UTF-8); empty when the prefix leaves no room for a name.
std::string ContentAddress(const std::string& prefix, const unsigned char* sha256,
                           const std::string& utf8LastName);

// True for a folder name that ContentAddress writes: kAddressDigits lower-case
// hexadecimal digits.
bool IsContentFolderName(const std::string& name);
