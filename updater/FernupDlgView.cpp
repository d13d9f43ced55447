// What the main dialog's controls show: the file list's rows and the
// update's progress in them, and which buttons are enabled. Everything here
// runs on the dialog's thread.
#include "updater/CFernupDlg.h"

#include "core/DefinitionCheck.h"
#include "support/FormatText.h"
#include "support/TextRoutines.h"
#include "updater/resource.h"

namespace {

constexpr int kSizeColumnWidth = 12;

void PaintStep(CWinListCtrl& list, UpdateFileEntry& entry, int column, int32_t& state,
               const int32_t& percent)
{
    const int32_t seen = LoadProgress(state);
    if (seen != kStateRunning && seen != kStateEnded)
        return;
    char cell[8];
    FormatText(cell, sizeof cell, "%d3%c", LoadProgress(percent), '%');
    list.SetCellText(entry.row, column, cell);
    if (entry.scrolled == 0) {
        list.ScrollIntoView(entry.row, 0);
        entry.scrolled = 1;
    }
    if (seen == kStateEnded) {
        FormatText(cell, sizeof cell, "%d3%c", 100, '%');
        list.SetCellText(entry.row, column, cell);
        // The task does not touch this step of this entry once it wrote 2.
        StoreProgress(state, kStateShown);
        entry.scrolled = 0;
    }
}

}  // namespace

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

void CFernupDlg::PaintProgress()
{
    for (UpdateFileEntry* entry = m_entries; entry != nullptr; entry = entry->next) {
        PaintStep(m_fileList, *entry, 2, entry->downloadState, entry->downloadPercent);
        PaintStep(m_fileList, *entry, 3, entry->transferState, entry->transferPercent);
    }
}

void CFernupDlg::FreeFileEntries()
{
    FreeEntryChain(m_entries);
    m_entries = nullptr;
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

void CFernupDlg::Repaint()
{
    InvalidateRgn(m_hWnd, nullptr, FALSE);
}
