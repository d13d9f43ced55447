#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/NoCopy.h"

struct PrivateKey;

// What the end-to-end tests share: a game folder whose update.log points at a
// package that nginx (the e2e fixture, FERNUP_E2E_DIR) serves, the real
// program started in that folder, and waits on what its dialog shows.

constexpr DWORD kWindowTimeout = 20000;
constexpr DWORD kUpdateTimeout = 60000;
extern const char kTitle[];  // the game's title in update.log and the definitions

struct PackageFile {
    std::string source;           // under the package folder, "/"-separated
    std::string target;           // under the game folder, "\\"-separated
    std::string content;          // what is published
    std::string signedContent{};  // what a signature binds, when not content
};

// Where packages are published: the server's document root (a Windows path
// ending in a backslash) and its address ("scheme://host:port/").
struct PackageSite {
    std::string root;
    std::string address;
};

// The e2e fixture's nginx, over HTTP.
PackageSite FixtureSite();

// A package under <root>\<name>\ and a game folder (with a data subfolder)
// that points at it. The program started is the one given.
class UpdateScenario : NoCopy {
public:
    UpdateScenario(const std::string& name, const std::string& program,
                   const PackageSite& site = FixtureSite());
    ~UpdateScenario();

    // update.log at version; with offline it points where no package is, so
    // the fetch at the start fails and the package is opened from its folder.
    void WriteLog(const std::string& version, bool offline = false);

    // Publishes the files, a definition listing them, MD5.txt (spoilt with
    // corruptDigest) and a readme.
    void Publish(const std::vector<PackageFile>& files, const std::string& version,
                 bool corruptDigest = false, const std::string& title = kTitle);

    // update.sig over the published package (or over what signedContent
    // says), by key, good until lastDay (YYYYMMDD, 0: no end).
    void Sign(const PrivateKey& key, uint32_t lastDay = 0);

    // An offline package holds each file under the last component of its
    // target path, beside update.qdv.
    void CopyFilesForOffline();

    // Starts the program (the scenario's unless given) in the game folder;
    // a program started before must have ended. The dialog, or null.
    HWND Start(const std::string& program = std::string());
    long ExitCode(DWORD timeoutMs);
    // Every published file is installed byte for byte and update.log
    // records version.
    void ExpectInstalled(const std::string& version) const;
    // Closes the dialog and expects the program to end with 0.
    void Exit(HWND dialog);
    // The whole of a good update: the program started, Update pressed once
    // offered, every file installed and version recorded, the program closed.
    void ExpectAnUpdateTo(const std::string& version);

    std::string m_name;
    std::string m_program;
    std::string m_game;
    std::string m_www;
    std::string m_baseAddress;
    std::string m_log;
    std::string m_definition;
    std::string m_definitionDigest;
    std::string m_readme;
    std::vector<PackageFile> m_files;
    PROCESS_INFORMATION m_process = {};
};

// The private key in a key file that fernup-pack keygen wrote.
PrivateKey KeyFromFile(const std::string& path);

// The dialog's message lines, one per line of text (the last count of them).
std::string LastLines(HWND dialog, size_t count);
std::string AllLines(HWND dialog);

// The buttons are briefly all enabled while the dialog initialises, so a
// state counts only together with the line that ends it.
bool WaitForState(HWND dialog, const std::string& buttons, const std::string& lastLine,
                  DWORD timeoutMs);

// WaitForState as an assertion: when the state is not reached in time, the
// failure shows the buttons and every line the dialog holds.
::testing::AssertionResult Reached(HWND dialog, const std::string& buttons,
                                   const std::string& lastLine, DWORD timeoutMs);

// Once the dialog offers the update, presses Update and waits for it to
// succeed; a failure says which of the two states was not reached.
::testing::AssertionResult UpdatedWhenOffered(HWND dialog);

// The start ended at the definition: after the fetch's line only line, Update
// and Readme off, and no file listed.
::testing::AssertionResult StoppedAtDefinition(HWND dialog, const std::string& line);
