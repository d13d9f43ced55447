#include "updater/CFernupDlg.h"

#include <commctrl.h>
#include <commdlg.h>

#include <utility>

#include "core/DefinitionPackage.h"
#include "core/MessageLines.h"
#include "support/CMd5.h"
#include "support/FileRoutines.h"
#include "support/PathText.h"
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

// One file of an offline package, read no further than the area a fetch of
// it has online: a huge one is neither read whole nor held.
CByteArea ReadPackageFile(const char* folder, const char* name, uint32_t capacity)
{
    char path[kCompanionPathSize];
    uint32_t length = 0;
    char* bytes = JoinPath(path, sizeof path, folder, name) ? ReadFileStart(path, capacity, &length)
                                                            : nullptr;
    return CByteArea(bytes, length);
}

}  // namespace

CFernupDlg::CFernupDlg()
    : CWinDialog(IDD_FERNUP, nullptr),
      m_fetchTask(nullptr),
      m_updateTask(nullptr),
      m_entries(nullptr),
      m_installed(),
      m_logPath{},
      m_update(),
      m_chooseFile(ChooseWithOpenFileDialog),
      m_showReadme(ShowReadmeWindow),
      m_updateOffered(false),
      m_updateStarted(false),
      m_signingKeys{},
      m_keyCount(0)
{
    // The file list is a list view: its window class must exist before the
    // template is built, or the dialog cannot be created at all.
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&classes);
    m_keyCount = LoadSigningKeys(m_signingKeys, kMaxPublicKeys);
}

CFernupDlg::~CFernupDlg()
{
    // A task still running uses the entries and the readme's object; they go
    // with the process. The readme's area is freed with the object either way.
    if (!HasTask())
        FreeFileEntries();
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
    m_update = UpdateSettings();
    SettleGameFolder(m_update.gameFolder, m_logPath);

    m_entries = nullptr;
    m_readme = CByteArea();
    CopyText(m_update.newVersion, sizeof m_update.newVersion, kFirstVersion);
    m_update.checkSignedHashes = m_keyCount != 0 ? 1 : 0;
    m_update.messageList = &m_messageList;

    for (int column = 0; column < 5; ++column)
        m_fileList.AddColumn(kColumnTitles[column], column, -1, kColumnMask, LVCFMT_LEFT, 0);
    LRESULT style = SendMessageA(m_fileList.m_hWnd, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    SendMessageA(m_fileList.m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 static_cast<LPARAM>(style | kListExtendedStyle));

    ShowState(DialogState::kBusy);
    ReadInstalledState(m_logPath, &m_installed);
    StartFetch();
}

void CFernupDlg::ShowReadme()
{
    if (m_readme.IsEmpty())
        return;
    m_showReadme(m_hWnd, m_hModule, m_readme.Bytes(), m_readme.Length());
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
    CopyText(m_update.offlineFolder, sizeof m_update.offlineFolder, folder);
    m_update.offline = 1;

    uint32_t length = 0;
    char* text = ReadFileStart(path, kOfflineDefinitionSize, &length);
    CByteArea definition(text, length);
    m_update.definitionDigest[0] = '\0';
    if (definition.Bytes() != nullptr)
        Md5Hex(definition.Bytes(), definition.Length(), m_update.definitionDigest);

    FreeFileEntries();
    m_fileList.RemoveAllItems();

    const CByteArea digest = ReadPackageFile(folder, kDigestFileName, kDigestAreaSize);
    if (!DigestTextAccepts(definition.Bytes(), definition.Length(), digest.Bytes(),
                           digest.Length())) {
        m_messageList.ClearLines();
        m_messageList.AppendLine(kLineDefinitionNotFetched);
        ShowState(DialogState::kFetchFailed);
    } else {
        AcceptPackage(
            std::move(definition), ReadPackageFile(folder, kReadmeFileName, kReadmeAreaSize),
            m_keyCount != 0 ? ReadPackageFile(folder, kSignatureFileName, kSignatureTextCapacity)
                            : CByteArea(),
            true);
    }
    Repaint();
    return 1;
}

void CFernupDlg::OnDestroy()
{
    ReleaseTasks();
    m_readme = CByteArea();
    // A running update task still works through the entries; they stay
    // allocated until the process ends.
    if (m_updateTask == nullptr)
        FreeFileEntries();
    ProfileText::ReleaseText();
    PostQuit();
}
