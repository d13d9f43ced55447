#include "support/ProfileText.h"

#include <cstddef>
#include <cstring>

#include "support/ByteArea.h"
#include "support/TextRoutines.h"

namespace ProfileText {
namespace {

// One line of the loaded text. The record and its text share one byte area,
// so a line is released by one FreeArea.
struct LineRecord {
    LineRecord* previous;
    LineRecord* next;
    char* text;  // follows the record in its area; null for an empty line
};

// The loaded text, program-wide; only the dialog's thread touches it.
LineRecord* g_firstLine = nullptr;
LineRecord* g_lastLine = nullptr;

constexpr char kCr = 0x0D;
constexpr char kLf = 0x0A;

// A record for the line of length bytes at line (cut at a zero byte inside
// it), or null when no memory can be had. The text is held whole whatever its
// length: the limits apply to what GetValue takes out of it.
LineRecord* MakeLine(const char* line, size_t length)
{
    const void* zero = std::memchr(line, 0, length);
    if (zero != nullptr) {
        length = static_cast<size_t>(static_cast<const char*>(zero) - line);
    }
    const size_t areaSize = sizeof(LineRecord) + (length == 0 ? 0 : length + 1);
    if (areaSize > UINT32_MAX) {
        return nullptr;
    }
    LineRecord* record = static_cast<LineRecord*>(AllocArea(static_cast<uint32_t>(areaSize)));
    if (record == nullptr) {
        return nullptr;
    }
    record->previous = nullptr;
    record->next = nullptr;
    record->text = nullptr;
    if (length != 0) {
        record->text = reinterpret_cast<char*>(record + 1);
        std::memcpy(record->text, line, length);
        record->text[length] = '\0';
    }
    return record;
}

void Append(LineRecord* record)
{
    record->previous = g_lastLine;
    if (g_lastLine != nullptr) {
        g_lastLine->next = record;
    } else {
        g_firstLine = record;
    }
    g_lastLine = record;
}

// Offset of the CR of the first CR LF at or after from, or length.
size_t FindLineEnd(const char* text, size_t from, size_t length)
{
    size_t at = from;
    while (at < length) {
        const void* cr = std::memchr(text + at, kCr, length - at);
        if (cr == nullptr) {
            return length;
        }
        at = static_cast<size_t>(static_cast<const char*>(cr) - text);
        if (at + 1 < length && text[at + 1] == kLf) {
            return at;
        }
        ++at;  // a bare CR stays in the line
    }
    return length;
}

}  // namespace

void LoadText(char* buffer, uint32_t length)
{
    // A text the caller forgot to release would otherwise be lost.
    ReleaseText();
    size_t position = 0;
    while (buffer != nullptr && position < length) {
        const size_t end = FindLineEnd(buffer, position, length);
        LineRecord* record = MakeLine(buffer + position, end - position);
        if (record == nullptr) {
            // Part of a definition would be read as a shorter, valid one:
            // without memory nothing is loaded.
            ReleaseText();
            break;
        }
        Append(record);
        position = end < length ? end + 2 : length;
    }
    FreeArea(buffer);
}

uint32_t GetValue(const char* section, const char* key, const char* defaultText, char* out,
                  uint32_t limit)
{
    CopyText(out, static_cast<size_t>(limit) + 1, defaultText);
    const uint32_t result = static_cast<uint32_t>(std::strlen(out));

    // Before the first section line the current section is the empty name.
    bool inSection = SameText("", section);
    char name[kMaxName + 1];
    char value[kMaxValue + 1];
    for (const LineRecord* line = g_firstLine; line != nullptr; line = line->next) {
        const char* text = line->text;
        if (text == nullptr) {
            continue;
        }
        bool cut = false;
        if (text[0] == '[') {
            CopyToken(text + 1, name, sizeof name, "]", true, &cut);
            // A name too long to hold never matches, so its keys are not
            // taken for those of a shorter name.
            inSection = !cut && SameText(name, section);
            continue;
        }
        if (!inSection) {
            continue;
        }
        // The token stops at the first "=" outside double quotes; a line
        // without one is no key line.
        const char* equals = CopyToken(text, name, sizeof name, "=", true, &cut);
        if (*equals != '=' || cut || !SameText(name, key)) {
            continue;
        }
        const char* rest = equals + 1;
        if (*rest == '\0') {
            return result;
        }
        CopyToken(rest, value, sizeof value, "", false, &cut);
        const size_t valueLength = std::strlen(value);
        if (cut || valueLength > limit) {
            return result;  // a value too long counts as missing
        }
        std::memcpy(out, value, valueLength + 1);
        return static_cast<uint32_t>(valueLength);
    }
    return result;
}

void ReleaseText()
{
    LineRecord* line = g_firstLine;
    while (line != nullptr) {
        LineRecord* next = line->next;
        FreeArea(line);
        line = next;
    }
    g_firstLine = nullptr;
    g_lastLine = nullptr;
}

}  // namespace ProfileText
