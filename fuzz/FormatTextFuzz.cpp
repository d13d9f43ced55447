// FormatText with the program's own formats and arbitrary argument texts,
// and with formats of the whole dialect built from the input: the output
// never passes the capacity, a smaller capacity gives the start of the same
// text, and the program's formats write exactly what they say.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "support/FormatText.h"

namespace {

constexpr size_t kWide = 8192;  // room for any text these formats make

// The lowest width digits of value in base, filled on the left when the value
// has fewer; no width shows all digits.
std::string Digits(uint64_t value, unsigned base, int width, char fill)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789ABCDEF"[value % base]);
        value /= base;
    } while (value != 0);
    if (width == 0)
        return digits;
    if (digits.size() >= static_cast<size_t>(width))
        return digits.substr(digits.size() - width);
    return std::string(width - digits.size(), fill) + digits;
}

// A text argument: any bytes but the zero, which would end it early.
std::string TextArgument(FuzzedDataProvider& input)
{
    std::string text = input.ConsumeRandomLengthString(400);
    return text.substr(0, text.find('\0'));
}

// Formats into a heap buffer of exactly capacity bytes, pre-filled with fill
// (what '%r' skips over), and returns what lies before the terminating zero.
template <class... Args>
std::string Format(size_t capacity, char fill, const char* format, Args... args)
{
    std::vector<char> out(capacity, fill);
    if (capacity > 1)
        out[capacity / 2] = '\0';  // so that '%r' has a zero to stop at
    FormatText(out.data(), capacity, format, args...);
    return TextIn(out.data(), capacity, "formatted text");
}

// The program's formats, each with the text it must make.
void CheckProgramFormats(FuzzedDataProvider& input, size_t capacity)
{
    const std::string a = TextArgument(input);
    const std::string b = TextArgument(input);
    const uint32_t n = input.ConsumeIntegral<uint32_t>();
    const int32_t signedValue = input.ConsumeIntegral<int32_t>();
    uint8_t bytes[16];
    for (uint8_t& byte : bytes)
        byte = input.ConsumeIntegral<uint8_t>();
    const size_t cut = capacity - 1;
    const char fill = 'q';

    struct Made {
        std::string expected;
        std::string actual;
        const char* format;
    };
    const uint32_t magnitude = signedValue < 0 ? 0u - static_cast<uint32_t>(signedValue)
                                               : static_cast<uint32_t>(signedValue);
    std::string hex;
    for (uint8_t byte : bytes)
        hex += Digits(byte, 16, 2, '0');
    const Made made[] = {
        {a + ":" + b, Format(capacity, fill, "%s:%s", a.c_str(), b.c_str()), "%s:%s"},
        {"FILE" + Digits(n, 10, 3, '0'), Format(capacity, fill, "FILE%z3", n), "FILE%z3"},
        {"FILE" + Digits(n, 10, 4, '0'), Format(capacity, fill, "FILE%z4", n), "FILE%z4"},
        {Digits(magnitude, 10, 3, ' ') + "%", Format(capacity, fill, "%d3%c", signedValue, '%'),
         "%d3%c"},
        {a + "update.qdv", Format(capacity, fill, "%supdate.qdv", a.c_str()), "%supdate.qdv"},
        {hex,
         Format(capacity, fill, "%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2%x2", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]),
         "%x2 x 16"},
        {"タイトル　：" + a, Format(capacity, fill, "タイトル　：%s", a.c_str()), "title line"},
        {"公開日　　：" + a + " -> " + b,
         Format(capacity, fill, "公開日　　：%s -> %s", a.c_str(), b.c_str()), "day line"},
        {"バージョン：" + a, Format(capacity, fill, "バージョン：%s", a.c_str()), "version line"},
    };
    for (const Made& m : made)
        FUZZ_EXPECT_EQ(m.expected.substr(0, cut), m.actual, m.format);

    // '%S' is the full-width form that ToFullWidth makes.
    std::vector<char> wide(kWide);
    ToFullWidth(wide.data(), wide.size(), a.c_str());
    FUZZ_EXPECT_EQ(std::string(wide.data()), Format(kWide, fill, "%S", a.c_str()),
                   "'%S' against ToFullWidth");
}

// Conversions that take the argument of a given type, with what may follow
// their letter: a sign mark, up to two width digits, a precision.
enum class Slot { Text, Int, Unsigned, Double, Wide };

std::string Conversion(FuzzedDataProvider& input, Slot slot)
{
    static const char* const kText[] = {"s", "S"};
    static const char* const kInt[] = {"d", "D", "ld", "lD", "c"};
    static const char* const kUnsigned[] = {"u", "U", "z", "Z", "x", "X", "o", "O", "lu", "lx"};
    static const char* const kDouble[] = {"f", "F"};
    static const char* const kWide[] = {"t", "T"};
    std::string conversion = "%";
    switch (slot) {
    case Slot::Text: conversion += kText[input.ConsumeIntegralInRange(0, 1)]; break;
    case Slot::Int: conversion += kInt[input.ConsumeIntegralInRange(0, 4)]; break;
    case Slot::Unsigned: conversion += kUnsigned[input.ConsumeIntegralInRange(0, 9)]; break;
    case Slot::Double: conversion += kDouble[input.ConsumeIntegralInRange(0, 1)]; break;
    case Slot::Wide: conversion += kWide[input.ConsumeIntegralInRange(0, 1)]; break;
    }
    if (slot != Slot::Text && input.ConsumeBool())
        conversion += input.ConsumeBool() ? "+" : "-";
    for (int digits = input.ConsumeIntegralInRange(0, 2); digits > 0; --digits)
        conversion += static_cast<char>('0' + input.ConsumeIntegralInRange(0, 9));
    if (slot == Slot::Double && input.ConsumeBool()) {
        conversion += ".";
        for (int digits = input.ConsumeIntegralInRange(0, 2); digits > 0; --digits)
            conversion += static_cast<char>('0' + input.ConsumeIntegralInRange(0, 9));
    }
    return conversion;
}

// A format of the whole dialect whose conversions take the arguments that
// CheckBuiltFormat passes, in their order; anything else between them.
std::string BuildFormat(FuzzedDataProvider& input)
{
    static const Slot kSlots[] = {Slot::Text, Slot::Int,    Slot::Text, Slot::Unsigned,
                                  Slot::Text, Slot::Double, Slot::Text, Slot::Wide};
    std::string format;
    size_t next = 0;
    while (input.remaining_bytes() > 0 && format.size() < 600) {
        switch (input.ConsumeIntegralInRange(0, 5)) {
        case 0:
        case 1: {
            std::string literal = input.ConsumeRandomLengthString(40);
            for (char c : literal)
                if (c != '%' && c != '\0')
                    format += c;
            break;
        }
        case 2:
        case 3:
            if (next < 8)
                format += Conversion(input, kSlots[next++]);
            break;
        case 4: {
            // Conversions that take no argument: a percent sign, the skip to
            // the buffer's zero, letters the dialect does not know.
            static const char* const kNone[] = {"%%", "%r", "%q", "%lq", "%l%", "%9"};
            format += kNone[input.ConsumeIntegralInRange(0, 5)];
            break;
        }
        default:
            // A lone '%' or '%l' ends the format where it stands.
            if (input.ConsumeBool())
                return format + (input.ConsumeBool() ? "%" : "%l");
            break;
        }
    }
    return format;
}

void CheckBuiltFormat(FuzzedDataProvider& input, size_t capacity)
{
    const std::string texts[4] = {TextArgument(input), TextArgument(input), TextArgument(input),
                                  TextArgument(input)};
    const int32_t i = input.ConsumeIntegral<int32_t>();
    const uint32_t u = input.ConsumeIntegral<uint32_t>();
    const double d = input.ConsumeFloatingPoint<double>();
    const uint64_t w = input.ConsumeIntegral<uint64_t>();
    const char fill = static_cast<char>(input.ConsumeIntegralInRange<int>(1, 255));
    const std::string format = BuildFormat(input);

    const std::string whole = Format(kWide, fill, format.c_str(), texts[0].c_str(), i,
                                     texts[1].c_str(), u, texts[2].c_str(), d, texts[3].c_str(), w);
    const std::string cut = Format(capacity, fill, format.c_str(), texts[0].c_str(), i,
                                   texts[1].c_str(), u, texts[2].c_str(), d, texts[3].c_str(), w);
    // '%r' depends on the buffer; with no zero before the cut the same bytes
    // are written, so the cut text is the start of the whole one.
    if (format.find("%r") == std::string::npos && whole.size() < kWide - 1)
        FUZZ_EXPECT_EQ(whole.substr(0, capacity - 1), cut, format.c_str());
    else
        FUZZ_EXPECT(cut.size() <= capacity - 1, "cut within the capacity", Shown(cut));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const size_t capacity = input.ConsumeIntegralInRange<size_t>(1, 300);
    if (input.ConsumeBool())
        CheckProgramFormats(input, capacity);
    else
        CheckBuiltFormat(input, capacity);

    // Grouped numbers and full-width texts of any width and capacity.
    const uint32_t value = input.ConsumeIntegral<uint32_t>();
    const int width = input.ConsumeIntegralInRange<int>(-2, 40);
    std::vector<char> out(capacity, 'q');
    FormatGroupedNumber(out.data(), capacity, value, width);
    TextIn(out.data(), capacity, "grouped number");
    const std::string text = TextArgument(input);
    std::vector<char> wide(capacity, 'q');
    const int replaced = ToFullWidth(wide.data(), capacity, text.c_str());
    FUZZ_EXPECT(replaced >= 0 && static_cast<size_t>(replaced) <= text.size(),
                "replaced characters counted", Shown(replaced));
    TextIn(wide.data(), capacity, "full-width text");
    return 0;
}
