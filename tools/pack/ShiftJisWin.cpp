#include "tools/pack/ShiftJis.h"

#include <windows.h>

namespace {

constexpr UINT kShiftJisPage = 932;

bool ToWide(UINT codePage, const std::string& input, std::wstring* wide)
{
    wide->clear();
    if (input.empty())
        return true;
    int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, input.data(),
                                     static_cast<int>(input.size()), nullptr, 0);
    if (length <= 0)
        return false;
    wide->resize(static_cast<size_t>(length));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, input.data(),
                               static_cast<int>(input.size()), &(*wide)[0], length) == length;
}

bool FromWide(UINT codePage, const std::wstring& wide, std::string* output)
{
    output->clear();
    if (wide.empty())
        return true;
    // CP_UTF8 takes neither flag nor default-character report.
    bool utf8 = codePage == CP_UTF8;
    BOOL usedDefault = FALSE;
    DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    int length = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()),
                                     nullptr, 0, nullptr, utf8 ? nullptr : &usedDefault);
    if (length <= 0 || usedDefault)
        return false;
    output->resize(static_cast<size_t>(length));
    return WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()),
                               &(*output)[0], length, nullptr,
                               utf8 ? nullptr : &usedDefault) == length &&
           !usedDefault;
}

}  // namespace

bool Utf8ToShiftJis(const std::string& utf8, std::string* sjis)
{
    std::wstring wide;
    if (!ToWide(CP_UTF8, utf8, &wide) || !FromWide(kShiftJisPage, wide, sjis))
        return false;
    std::wstring back;
    return ToWide(kShiftJisPage, *sjis, &back) && back == wide;
}

bool ShiftJisToUtf8(const std::string& sjis, std::string* utf8)
{
    std::wstring wide;
    return ToWide(kShiftJisPage, sjis, &wide) && FromWide(CP_UTF8, wide, utf8);
}
