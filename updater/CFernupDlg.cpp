#include "updater/CFernupDlg.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstring>

#include "core/DefinitionCheck.h"
#include "core/DefinitionPackage.h"
#include "core/MessageLines.h"
#include "support/ByteArea.h"
#include "support/CMd5.h"
#include "support/FileRoutines.h"
#include "support/FormatText.h"
#include "support/PathText.h"
#include "support/PlatformCrypto.h"
#include "support/ProfileText.h"
#include "support/TextRoutines.h"
#include "updater/CReadmeDlg.h"
#include "updater/InstalledStateWin.h"
#include "updater/SigningKeys.h"
#include "updater/resource.h"

namespace {

constexpr char kFirstVersion[] = "1.00";

// Each column is as wide as its header text plus 15 pixels, so the blanks in
// the headers set the widths.
constexpr UINT kColumnMask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
constexpr int kSizeColumnWidth = 12;
constexpr DWORD kListExtendedStyle = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;

constexpr DWORD kChooserFlags =
    OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NONETWORKBUTTON | OFN_LONGNAMES;
static_assert(kChooserFlags == 0x221804, "the chooser's options");
constexpr DWORD kChooserFileSize = 513;
constexpr DWORD kChooserTitleSize = 128;

constexpr size_t kCompanionPathSize = kPathSize + 16;  // offline folder + "readme.txt"

bool ChooseWithOpenFileDialog(HWND owner, char* path, uint32_t capacity)
{
    char fileName[kChooserFileSize] = "";
    char fileTitle[kChooserTitleSize] = "";
    OPENFILENAMEA chooser = {};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = owner;
    chooser.lpstrFilter = "qdv file (*.qdv)\0*.qdv\0";
    chooser.nFilterIndex = 1;
    chooser.lpstrFile = fileName;
    chooser.nMaxFile = kChooserFileSize;
    chooser.lpstrFileTitle = fileTitle;
    chooser.nMaxFileTitle = kChooserTitleSize;
    chooser.lpstrTitle = kChooserTitle;
    chooser.Flags = kChooserFlags;
    if (!GetOpenFileNameA(&chooser))
        return false;
    return CopyText(path, capacity, fileName);
}

}  // namespace

CFernupDlg::CFernupDlg()
    : CWinDialog(IDD_FERNUP, nullptr),
      m_fetchTask(nullptr),
      m_updateTask(nullptr),
      m_entries(nullptr),
      m_offline(0),
      m_updateOffered(false),
      m_updateStarted(false),
      m_installedVersionNumber(0),
      m_installedVersion{},
      m_installedDay{},
      m_readmeText(nullptr),
      m_readmeLength(0),
      m_gameFolder{},
      m_logPath{},
      m_offlineFolder{},
      m_definitionDigest{},
      m_baseAddress{},
      m_newVersion{},
      m_newDay{},
      m_installedTitle{},
      m_installedDefinition{},
      m_definitionSha256{},
      m_signingKeys{},
      m_keyCount(0),
      m_chooseFile(ChooseWithOpenFileDialog),
      m_showReadme(ShowReadmeWindow)
{
    // The file list is a list view: its window class must exist before the
    // template is built, or the dialog cannot be created at all.
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&classes);
    m_keyCount = LoadSigningKeys(m_signingKeys, kMaxPublicKeys);
}

CFernupDlg::~CFernupDlg()
{
    if (HasTask())
        return;
    FreeFileEntries();
    ReplaceReadme(nullptr, 0);
}

LRESULT CFernupDlg::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(window, wParam, lParam); return 1;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            switch (LOWORD(wParam)) {
            case IDC_UPDATE: StartUpdate(); break;
            case IDC_EXIT:
                // Through the close box's path, so Exit ends the run as it does.
                PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
                break;
            case IDC_README: ShowReadme(); break;
            case IDC_BROWSE: ChooseOfflineDefinition(); break;
            default: break;
            }
        }
        return CWinDialog::HandleMessage(window, message, wParam, lParam);
    case WM_TIMER: OnTimer(); return 0;
    case WM_DESTROY: OnDestroy(); return 0;
    default: return CWinDialog::HandleMessage(window, message, wParam, lParam);
    }
}

void CFernupDlg::BindControls(CWinMain* dialog)
{
    AttachControl(dialog, IDC_FILE_LIST, &m_fileList);
    AttachControl(dialog, IDC_MESSAGES, &m_messageList);
    AttachControl(dialog, IDC_UPDATE, &m_updateButton);
    AttachControl(dialog, IDC_EXIT, &m_exitButton);
    AttachControl(dialog, IDC_README, &m_readmeButton);
    AttachControl(dialog, IDC_BROWSE, &m_browseButton);
    AttachControl(dialog, IDC_OFFLINE_PATH, &m_offlinePath);
}

void CFernupDlg::OnInitDialog(HWND window, WPARAM wParam, LPARAM lParam)
{
    InitDialogBase(window, wParam, lParam);

    SetTitleText(kWindowTitle);
    // Shared: the system keeps the icon and frees it with the module.
    HANDLE icon =
        LoadImageA(m_hInstance, MAKEINTRESOURCEA(IDI_FERNUP), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED);
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    m_fetchTask = nullptr;
    m_updateTask = nullptr;

    // A folder too long to hold leaves both empty: nothing is read, and
    // without an installed title no definition is ever accepted.
    SettleGameFolder(m_gameFolder, m_logPath);

    m_entries = nullptr;
    m_readmeText = nullptr;
    m_readmeLength = 0;
    m_offline = 0;
    m_definitionDigest[0] = '\0';
    m_newDay[0] = '\0';
    m_offlineFolder[0] = '\0';
    CopyText(m_newVersion, sizeof m_newVersion, kFirstVersion);

    for (int column = 0; column < 5; ++column)
        m_fileList.AddColumn(kColumnTitles[column], column, -1, kColumnMask, LVCFMT_LEFT, 0);
    LRESULT style = SendMessageA(m_fileList.m_hWnd, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    SendMessageA(m_fileList.m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 static_cast<LPARAM>(style | kListExtendedStyle));

    ShowState(DialogState::kBusy);

    InstalledState state;
    ReadInstalledState(m_logPath, &state);
    CopyText(m_baseAddress, sizeof m_baseAddress, state.baseAddress);
    CopyText(m_installedVersion, sizeof m_installedVersion, state.version);
    m_installedVersionNumber = state.versionNumber;
    CopyText(m_installedDay, sizeof m_installedDay, state.day);
    CopyText(m_installedTitle, sizeof m_installedTitle, state.title);
    CopyText(m_installedDefinition, sizeof m_installedDefinition, state.definitionSha256);

    StartFetch();
}

void CFernupDlg::ShowReadme()
{
    if (m_readmeText == nullptr || m_readmeLength == 0)
        return;
    m_showReadme(m_hWnd, m_hModule, m_readmeText, m_readmeLength);
}

void CFernupDlg::ChooseOfflineDefinition()
{
    char path[kPathSize];
    if (m_chooseFile(m_hWnd, path, sizeof path))
        OpenOfflineDefinition(path);
}

int CFernupDlg::OpenOfflineDefinition(const char* path)
{
    // Browse is disabled while a task exists; a command that comes anyway must
    // not free entries that the update task is working through. It stays
    // disabled after an update, and a command then must not offer another.
    if (HasTask() || m_updateStarted)
        return 0;

    char folder[kPathSize];
    if (!CopyText(folder, sizeof folder, path))
        return 0;
    char* lastBackslash = FindLastChar(folder, '\\');
    if (lastBackslash != nullptr)
        lastBackslash[1] = '\0';

    if (!FileExists(path))
        return 0;

    m_offlinePath.SetText(path);
    CopyText(m_offlineFolder, sizeof m_offlineFolder, folder);
    m_offline = 1;

    uint32_t length = 0;
    // Each file of the package within the area a fetch of it has online, so
    // a huge one is neither read whole nor held.
    char* text = ReadFileStart(path, kDefinitionAreaSize, &length);
    m_definitionDigest[0] = '\0';
    if (text != nullptr)
        Md5Hex(text, length, m_definitionDigest);

    FreeFileEntries();
    m_fileList.RemoveAllItems();

    char companion[kCompanionPathSize];
    JoinPath(companion, sizeof companion, folder, "MD5.txt");
    uint32_t digestLength = 0;
    char* digest = ReadFileStart(companion, kDigestAreaSize, &digestLength);
    bool digestMatches = DigestTextAccepts(text, length, digest, digestLength);
    FreeArea(digest);

    if (!digestMatches) {
        FreeArea(text);
        m_messageList.ClearLines();
        m_messageList.AppendLine(kLineDefinitionNotFetched);
        ShowState(DialogState::kFetchFailed);
    } else {
        JoinPath(companion, sizeof companion, folder, "readme.txt");
        uint32_t readmeLength = 0;
        char* readme = ReadFileStart(companion, kReadmeAreaSize, &readmeLength);
        ReplaceReadme(readme, readmeLength);
        SignedFacts* facts = nullptr;
        if (m_keyCount != 0) {
            JoinPath(companion, sizeof companion, folder, "update.sig");
            uint32_t signatureLength = 0;
            char* signature = ReadFileStart(companion, kSignatureTextCapacity, &signatureLength);
            facts = CheckSignature(text, length, signature, signatureLength);
            FreeArea(signature);
        }
        if (m_keyCount != 0 && facts == nullptr) {
            FreeArea(text);
            m_messageList.ClearLines();
            RefuseSignature();
        } else {
            bool offer = CheckDefinition(text, length);
            if (facts != nullptr)
                BindSignedHashes(*facts);
            ShowState(offer ? DialogState::kReady : DialogState::kNothingToOffer);
        }
        FreeArea(facts);
    }
    Repaint();
    return 1;
}

bool CFernupDlg::CheckDefinition(char* text, uint32_t length)
{
    m_messageList.ClearLines();
    InstalledFacts installed = {m_installedTitle, m_installedVersion, m_installedDay,
                                m_installedVersionNumber, false};
    // Of the bytes as they came, before the reader takes them over.
    m_definitionSha256[0] = '\0';
    unsigned char sha256[kSha256Size];
    if (m_keyCount != 0 && text != nullptr && Sha256Of(text, length, sha256)) {
        WriteHex(sha256, kSha256Size, m_definitionSha256);
        installed.otherDefinition = IsOtherDefinition(m_installedDefinition, sha256);
    }
    ProfileText::LoadText(text, length);

    DefinitionVerdict verdict;
    JudgeLoadedDefinition(installed, &verdict);
    for (int32_t line = 0; line < verdict.lineCount; ++line)
        m_messageList.AppendLine(verdict.lines[line]);

    bool offer = verdict.offerUpdate;
    if (verdict.listFiles) {
        CopyText(m_newDay, sizeof m_newDay, verdict.newDay);
        CopyText(m_newVersion, sizeof m_newVersion, verdict.newVersion);
        // An update of part of the list would be recorded as complete.
        if (!ReadFileEntries())
            offer = false;
        FillFileList();
    }
    ProfileText::ReleaseText();
    return offer;
}

bool CFernupDlg::ReadFileEntries()
{
    bool complete = false;
    UpdateFileEntry* chain = ReadLoadedFileList(&complete);
    if (!complete) {
        FreeEntryChain(chain);
        return false;
    }
    UpdateFileEntry** tail = &m_entries;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = chain;
    return true;
}

SignedFacts* CFernupDlg::CheckSignature(const char* definition, uint32_t definitionLength,
                                        const char* signature, uint32_t signatureLength)
{
    SignedFacts* facts = AllocSignedFacts();
    if (facts == nullptr || m_keyCount <= 0 ||
        CheckSignedPackage(signature, signatureLength, definition, definitionLength, m_readmeText,
                           m_readmeLength, m_signingKeys, static_cast<uint32_t>(m_keyCount),
                           UtcToday(), facts) != kSignatureGood) {
        FreeArea(facts);
        return nullptr;
    }
    return facts;
}

void CFernupDlg::BindSignedHashes(const SignedFacts& facts)
{
    int32_t index = 0;
    for (UpdateFileEntry* entry = m_entries; entry != nullptr; entry = entry->next, ++index) {
        const unsigned char* hash = SignedFileHash(facts, index);
        entry->sha256Bound = hash != nullptr ? 1 : 0;
        if (hash != nullptr)
            std::memcpy(entry->sha256, hash, sizeof entry->sha256);
    }
}

void CFernupDlg::RefuseSignature()
{
    ReplaceReadme(nullptr, 0);
    m_messageList.AppendLine(kLineSignatureRefused);
    ShowState(DialogState::kFetchFailed);
}

void CFernupDlg::FillFileList()
{
    // With drawing on, the list view repaints and re-measures its scroll bars
    // at every row it inserts: 999 rows took six seconds. It is drawn once,
    // whole, at the end instead.
    SendMessageA(m_fileList.m_hWnd, WM_SETREDRAW, FALSE, 0);
    m_fileList.RemoveAllItems();
    int position = 0;
    for (UpdateFileEntry* entry = m_entries; entry != nullptr; entry = entry->next, ++position) {
        const char* slash = FindLastChar(entry->sourcePath, '/');
        entry->row = m_fileList.SetCellText(position, 0, slash ? slash + 1 : entry->sourcePath);

        char cell[32];
        FormatGroupedNumber(cell, sizeof cell, static_cast<uint32_t>(entry->size),
                            kSizeColumnWidth);
        m_fileList.SetCellText(entry->row, 1, cell);
        FormatText(cell, sizeof cell, "%d3%c", LoadProgress(entry->downloadPercent), '%');
        m_fileList.SetCellText(entry->row, 2, cell);
        FormatText(cell, sizeof cell, "%d3%c", LoadProgress(entry->transferPercent), '%');
        m_fileList.SetCellText(entry->row, 3, cell);
        m_fileList.SetCellText(entry->row, 4, entry->md5);
    }
    SendMessageA(m_fileList.m_hWnd, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(m_fileList.m_hWnd, nullptr, TRUE);
}

void CFernupDlg::FreeFileEntries()
{
    FreeEntryChain(m_entries);
    m_entries = nullptr;
}

void CFernupDlg::OnDestroy()
{
    ReleaseTasks();
    ReplaceReadme(nullptr, 0);
    // A running update task still works through the entries; they stay
    // allocated until the process ends.
    if (m_updateTask == nullptr)
        FreeFileEntries();
    ProfileText::ReleaseText();
    PostQuit();
}

void CFernupDlg::ShowState(DialogState state)
{
    const bool busy = state == DialogState::kBusy;
    m_updateOffered = state == DialogState::kReady;
    EnableWindow(GetDlgItem(m_hWnd, IDC_UPDATE), m_updateOffered);
    EnableWindow(GetDlgItem(m_hWnd, IDC_EXIT), !busy);
    EnableWindow(GetDlgItem(m_hWnd, IDC_README), state == DialogState::kReady ||
                                                     state == DialogState::kNothingToOffer ||
                                                     state == DialogState::kDone);
    EnableWindow(GetDlgItem(m_hWnd, IDC_BROWSE), !busy && state != DialogState::kDone);
}

void CFernupDlg::ReplaceReadme(char* text, uint32_t length)
{
    FreeArea(m_readmeText);
    m_readmeText = text;
    m_readmeLength = text != nullptr ? length : 0;
}

void CFernupDlg::Repaint()
{
    InvalidateRgn(m_hWnd, nullptr, FALSE);
}
