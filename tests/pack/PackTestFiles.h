#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/NoCopy.h"
#include "tests/common/TestBytes.h"
#include "tools/pack/PackageVerifier.h"

// Folders and files for the fernup-pack tests. Names are UTF-8 (u8 literals),
// file contents are bytes.

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class CScratchFolder : NoCopy {
public:
    explicit CScratchFolder(const std::string& name);
    ~CScratchFolder();

    const std::filesystem::path& Path() const { return m_path; }
    // path / the UTF-8 relative name ("/" between folders).
    std::filesystem::path operator/(const std::string& utf8Relative) const;

private:
    std::filesystem::path m_path;
};

// Writes bytes to path, making its folders; fails the test when it cannot.
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// The whole file, or "<missing>".
std::string ReadBytes(const std::filesystem::path& path);

// The names in a folder (UTF-8), sorted; "/"-separated relative paths of
// every file and folder under it when recursive.
std::vector<std::string> Listing(const std::filesystem::path& folder, bool recursive);

// Shift-JIS form of UTF-8 text; fails the test when there is none.
std::string Sjis(const std::string& utf8);

// The address build gives a file of these bytes and this last name (UTF-8)
// under prefix.
std::string AddressOf(const std::string& content, const std::string& utf8Name,
                      const std::string& prefix = "files/");

// The source path that the package's update.qdv lists for the target path
// (Shift-JIS, "\\" between folders), and where that file lies in the package
// folder; empty when none is listed.
std::string SourceOf(const std::filesystem::path& package, const std::string& sjisTarget);
std::filesystem::path CopyOf(const std::filesystem::path& package, const std::string& sjisTarget);

// Lines joined with "\n" after each, for comparisons that print well.
std::string Joined(const std::vector<std::string>& lines);

// Starts fernup-pack's HTTP client (trusting caFile's CAs when it is not
// empty) for the whole test program and stops it at the end. For
// ::testing::AddGlobalTestEnvironment, which owns it.
::testing::Environment* HttpClientEnvironment(const std::string& caFile = std::string());

// "scheme://127.0.0.1:PORT/name/" for the server that scripts/nginx-serve.sh
// started with its state in folder (its port file).
std::string ServedAddress(const char* scheme, const std::filesystem::path& folder,
                          const std::string& name);

// What fernup-pack's verifier finds at a package's address; fails the test
// when it cannot verify.
VerifyResult VerifyAt(const std::string& address);

// fernup-pack run as a publisher runs it: exit status, stdout and stderr.
// Arguments are ASCII, each free of blanks and quotes unless quoted.
struct ToolOutcome {
    int status;
    std::string out;
    std::string err;
};
ToolOutcome RunTool(const std::string& program, const CScratchFolder& scratch,
                    const std::string& arguments);

// Packs the release the test wrote under scratch/new into output (emptied
// first) with fernup-pack's builder: the title given, version 1.01 of
// 2026/12/07, online or offline, leaving out what the previous release (when
// one is given) already has. False, with the builder's errors reported as a
// test failure, when it refuses.
bool BuildRelease(const CScratchFolder& scratch, const std::filesystem::path& output,
                  const std::string& title, bool offline = false,
                  const std::filesystem::path& previous = std::filesystem::path());

// Signs the package in a folder with a new key pair written under
// scratch/keys/publisher, good until lastDay (0: no end). The number of
// files the signature binds; a failure fails the test.
size_t SignWithNewKey(const CScratchFolder& scratch, const std::filesystem::path& package,
                      uint32_t lastDay = 0);

// What fernup-pack's verifier finds in the package in a folder, read in the
// offline layout or the online one; fails the test when it cannot verify.
VerifyResult Verify(const std::filesystem::path& package, bool offline);
