#pragma once

#include <windows.h>

#include <cstdint>

#include "core/InstalledState.h"
#include "core/SignedPackage.h"
#include "core/UpdateFileEntry.h"
#include "framework/CWinButton.h"
#include "framework/CWinDialog.h"
#include "framework/CWinEdit.h"
#include "framework/CWinListBox.h"
#include "framework/CWinListCtrl.h"
#include "support/ByteArea.h"
#include "updater/CFernupTask.h"

class CInitUpdateTask;

// Asks the user for an offline definition file; true with the full path in
// path (capacity bytes) when the user confirmed one.
typedef bool (*OfflineChooser)(HWND owner, char* path, uint32_t capacity);
// Shows the readme (length bytes, no terminating zero) over owner.
typedef void (*ReadmeViewer)(HWND owner, HINSTANCE instance, const char* text, uint32_t length);

// The program's only window and the controller of the whole update: the file
// list, the message list, the offline path box and four buttons; it takes a
// definition package (fetched or opened from disk), shows its verdict, and
// starts and polls the two worker tasks. Its code lies in four files that
// call one way: CFernupDlg.cpp (messages, start, offline packages, readme)
// -> FernupDlgTasks.cpp (the two tasks) -> FernupDlgPackage.cpp (taking a
// package) -> FernupDlgView.cpp (what the controls show).
class CFernupDlg final : public CWinDialog {
public:
    CFernupDlg();
    // Releases what OnDestroy has not, unless a task still runs on the object.
    ~CFernupDlg();

    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    // Attaches the seven control wrappers: the two lists, then the buttons,
    // then the offline path box.
    void BindControls(CWinMain* dialog) override;

    void OnInitDialog(HWND window, WPARAM wParam, LPARAM lParam);
    void ShowReadme();
    void ChooseOfflineDefinition();
    // 1 once the file was taken up (accepted or refused), 0 when the path does
    // not exist, does not fit, a task owns the file entries or an update has
    // started: nothing changed.
    int OpenOfflineDefinition(const char* path);
    void OnDestroy();

    // The task handling (FernupDlgTasks.cpp).
    void StartFetch();
    void OnTimer();
    void StartUpdate();
    void ReleaseTasks();
    // A task that exists, finished or not, still uses the dialog object, the
    // file entries and the message list: then none of them may be released.
    bool HasTask() const;

    // Taking a package (FernupDlgPackage.cpp). A package whose MD5.txt held
    // its definition's digest, fetched (online) or read from its folder:
    // checks its signature in a build with keys, judges its definition and
    // shows the verdict and its files.
    void AcceptPackage(CByteArea definition, CByteArea readme, CByteArea signature, bool offline);
    // Takes text over (an area from AllocArea, or null) whatever the outcome;
    // true when the Update button may be offered.
    bool CheckDefinition(char* text, uint32_t length);
    // Appends the entries of the loaded definition; false when they could not
    // all be had, in which case none are added.
    bool ReadFileEntries();

    // What the controls show (FernupDlgView.cpp).
    void FillFileList();
    void FreeFileEntries();
    // What the buttons offer the user (Update, Exit, Readme, Browse):
    enum class DialogState {
        kBusy,            // ----  a task fetches or updates
        kReady,           // UERB  an accepted definition waits for Update
        kNothingToOffer,  // -ERB  an offline definition offers no update; its readme shows
        kFetchFailed,     // -E-B  nothing to show: not fetched, refused online, unsigned
        kDone,            // -ER-  the update has ended, well or not
    };
    // Also records whether Update is offered: StartUpdate acts only then.
    void ShowState(DialogState state);

    CWinListCtrl m_fileList;
    CInitUpdateTask* m_fetchTask;  // owned; null when none
    CFernupTask* m_updateTask;     // owned; null when none
    UpdateFileEntry* m_entries;    // owned chain; borrowed by a running update task
    CByteArea m_readme;            // the readme text, no terminating zero; empty when none
    InstalledState m_installed;    // update.log as it was read at the start
    char m_logPath[1024];
    // What the update is handed whole: the game folder, and what the shown
    // definition settled (offline folder, digests, new version and day).
    UpdateSettings m_update;

    // Stand-ins for the file chooser and the readme window, so tests can
    // drive the dialog without a modal chooser or a second modal window.
    OfflineChooser m_chooseFile;
    ReadmeViewer m_showReadme;

private:
    // In a build with keys, before anything of a package is shown: the facts
    // of its update.sig (from AllocSignedFacts, the caller frees them) when
    // the signature, its last day and the bytes of the definition and the
    // readme all pass; null when the package is to be refused.
    SignedFacts* CheckSignature(const CByteArea& definition, const CByteArea& signature);
    // Gives each entry the SHA-256 that the signature binds to its file.
    void BindSignedHashes(const SignedFacts& facts);
    // What a refused signature leaves: no definition, no readme, no Update.
    void RefuseSignature();
    // The update task's per-file progress, into the two percentage columns.
    void PaintProgress();
    // The whole client area, without erasing it.
    void Repaint();

    CWinListBox m_messageList;
    CWinButton m_updateButton;
    CWinButton m_exitButton;
    CWinButton m_readmeButton;
    CWinButton m_browseButton;
    CWinEdit m_offlinePath;
    // True only while an accepted definition waits for Update; an Update
    // command that comes otherwise (a synthetic click, an automation tool)
    // is ignored, as the disabled button would ignore the user.
    bool m_updateOffered;
    // Set once an update has started: one run of the program installs one
    // update, and no definition is taken up after it.
    bool m_updateStarted;
    // The built-in public keys; m_keyCount 0 in a build without keys (no
    // signature is checked), -1 when they cannot be read (nothing passes).
    PublicKey m_signingKeys[kMaxPublicKeys];
    int32_t m_keyCount;
};
