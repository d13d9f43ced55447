#include "tools/pack/ShiftJis.h"

#include <iconv.h>

#include <cerrno>

namespace {

// One conversion with a fresh descriptor, so the routines can be used from any
// thread. False when iconv refuses a byte sequence or a character.
bool Convert(const char* to, const char* from, const std::string& input, std::string* output)
{
    iconv_t descriptor = iconv_open(to, from);
    if (descriptor == reinterpret_cast<iconv_t>(-1))
        return false;
    output->clear();
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char buffer[1024];
    bool ok = true;
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        size_t result = iconv(descriptor, &in, &inLeft, &out, &outLeft);
        output->append(buffer, static_cast<size_t>(out - buffer));
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            ok = false;
            break;
        }
        // glibc counts characters it replaced instead of failing; there must be none.
        if (result != static_cast<size_t>(-1) && result > 0) {
            ok = false;
            break;
        }
    }
    iconv_close(descriptor);
    return ok;
}

}  // namespace

bool Utf8ToShiftJis(const std::string& utf8, std::string* sjis)
{
    if (!Convert("CP932", "UTF-8", utf8, sjis))
        return false;
    std::string back;
    return Convert("UTF-8", "CP932", *sjis, &back) && back == utf8;
}

bool ShiftJisToUtf8(const std::string& sjis, std::string* utf8)
{
    return Convert("UTF-8", "CP932", sjis, utf8);
}
