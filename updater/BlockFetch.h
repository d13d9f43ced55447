#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>

class CFileReader;
class CWinThreadMaster;
struct UpdateFileEntry;

// The third way of making an entry's work-folder copy, beside downloading it
// and copying the installed file that already is it: from the blocks of an
// installed file of another version, with the rest fetched by Range requests.
// The file's block index is fetched (core/BlockIndex.h, beside the file at
// its address and ".fbi"), the installed file is read once with the checks'
// own reads and every block of the new file found in it is written into the
// copy where it belongs; each run of blocks not found is then fetched with
// one Range request, paced as any download. The download cell counts the
// bytes assembled.
//
// True when the copy holds every byte of the file so assembled; the ordinary
// check of the copy decides whether it is the file. False at any trouble on
// the way, and the caller downloads the file whole, over whatever was
// written: no index (404), one that is malformed, too large, late or of
// another file, a server that answers a range with anything but exactly that
// range (a 200 from one that ignores Range, another Content-Range, fewer
// bytes), a copy that cannot be written.
bool AssembleFromBlocks(CWinThreadMaster* task, HINTERNET session, const char* fileAddress,
                        const UpdateFileEntry& entry, HANDLE installed, uint32_t installedSize,
                        CFileReader* reader, HANDLE copy, int32_t& downloadState,
                        int32_t& downloadPercent);
