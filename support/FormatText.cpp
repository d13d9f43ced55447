#include "support/FormatText.h"

#include <cstdarg>
#include <cstring>

#include "support/TextRoutines.h"

namespace {

constexpr char kDigitAlphabet[] = "0123456789ABCDEF";

// Full-width forms of the single-byte codes 0x20-0x7E and 0xA0-0xDF, two bytes
// each (this file is compiled to Shift-JIS). 0x5C and 0x7E take their JIS X 0201
// readings, the hyphen shares the underscore's character, and the voiced marks
// stay separate characters.
constexpr char kFullWidthAscii[] =
    "　！”＃＄％＆’（）＊＋，＿．／"
    "０１２３４５６７８９：；＜＝＞？"
    "＠ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯ"
    "ＰＱＲＳＴＵＶＷＸＹＺ［￥］＾＿"
    "｀ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏ"
    "ｐｑｒｓｔｕｖｗｘｙｚ｛｜｝￣";
constexpr char kFullWidthKana[] =
    "　。「」、・ヲァィゥェォャュョッ"
    "ーアイウエオカキクケコサシスセソ"
    "タチツテトナニヌネノハヒフヘホマ"
    "ミムメモヤユヨラリルレロワン゛゜";
static_assert(sizeof kFullWidthAscii == 2 * (0x7E - 0x20 + 1) + 1,
              "every printable code needs one two-byte character");
static_assert(sizeof kFullWidthKana == 2 * (0xDF - 0xA0 + 1) + 1,
              "every half-width katakana code needs one two-byte character");

// One character of text in full-width form: the bytes it becomes (one or two)
// and how many bytes of text it took.
struct FullWidthChar {
    char bytes[2];
    size_t length;
    size_t consumed;
    bool replaced;
};

FullWidthChar ConvertChar(const unsigned char* text)
{
    const unsigned char byte = text[0];
    if (IsLeadByte(byte) && text[1] != 0) {
        return {{static_cast<char>(byte), static_cast<char>(text[1])}, 2, 2, false};
    }
    const char* row = nullptr;
    if (byte >= 0x20 && byte <= 0x7E) {
        row = kFullWidthAscii + 2 * (byte - 0x20);
    } else if (byte >= 0xA0 && byte <= 0xDF) {
        row = kFullWidthKana + 2 * (byte - 0xA0);
    }
    if (row != nullptr) {
        return {{row[0], row[1]}, 2, 1, true};
    }
    // Control codes, 0x7F, 0x80, 0xFD-0xFF and a lead byte that ends the text
    // stay as they are.
    return {{static_cast<char>(byte), 0}, 1, 1, false};
}

// The output buffer as the formatter fills it: bytes past capacity - 1 are
// dropped, so the result is the start of the uncut text.
class Output {
public:
    Output(char* out, size_t capacity) : m_out(out), m_last(capacity - 1), m_pos(0) {}

    void Put(char byte)
    {
        if (m_pos < m_last) {
            m_out[m_pos++] = byte;
        }
    }

    void Put(const char* bytes, size_t length)
    {
        for (size_t i = 0; i < length; ++i) {
            Put(bytes[i]);
        }
    }

    // Full-width form of text, at most limit bytes of it.
    size_t PutFullWidth(const char* text, size_t limit)
    {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
        size_t written = 0;
        while (*p != 0 && written < limit) {
            const FullWidthChar c = ConvertChar(p);
            for (size_t i = 0; i < c.length && written < limit; ++i, ++written) {
                Put(c.bytes[i]);
            }
            p += c.consumed;
        }
        return written;
    }

    // '%r': on to the first zero byte already in the buffer, never past the
    // last byte that may be written.
    void SkipToZero()
    {
        while (m_pos < m_last && m_out[m_pos] != 0) {
            ++m_pos;
        }
    }

    void Finish() { m_out[m_pos] = '\0'; }

private:
    char* m_out;
    size_t m_last;  // index of the byte kept for the terminating zero
    size_t m_pos;
};

// The sign mark after a signed conversion letter, or 0.
char ReadSignMark(const unsigned char*& f)
{
    if (*f == '+' || *f == '-') {
        return static_cast<char>(*f++);
    }
    return 0;
}

// Up to two decimal digits; 0 when there are none.
int ReadTwoDigits(const unsigned char*& f)
{
    int value = 0;
    for (int i = 0; i < 2 && *f >= '0' && *f <= '9'; ++i) {
        value = value * 10 + (*f++ - '0');
    }
    return value;
}

// The lowest width digits of value in base, right-aligned in field[0, width),
// positions the value has no digit for taking fill; a zero value shows "0" in
// the last position.
void FixedDigits(char* field, int width, uint64_t value, unsigned base, char fill)
{
    for (int k = width - 1; k >= 0; --k) {
        if (value == 0 && k != width - 1) {
            field[k] = fill;
        } else {
            field[k] = kDigitAlphabet[value % base];
            value /= base;
        }
    }
}

// Decimal digits without leading zeros ("0" for zero); returns their count.
int PlainDigits(char* field, uint64_t value)
{
    char reversed[20];
    int count = 0;
    do {
        reversed[count++] = kDigitAlphabet[value % 10];
        value /= 10;
    } while (value != 0);
    for (int i = 0; i < count; ++i) {
        field[i] = reversed[count - 1 - i];
    }
    return count;
}

// The sign character that the mark asks for, or 0 for none.
char SignFor(char mark, bool negative)
{
    if (mark == '+') {
        return negative ? '-' : '+';
    }
    if (mark == '-' && negative) {
        return '-';
    }
    return 0;
}

// Places the sign in the last fill space in front of the first character of a
// right-aligned field. Returns false when the field has no such space; the
// caller then writes the sign ahead of the field, as for a field without width.
bool PlaceSign(char* field, int width, char sign)
{
    int first = 0;
    while (first < width && field[first] == ' ') {
        ++first;
    }
    if (first == 0) {
        return false;
    }
    field[first - 1] = sign;
    return true;
}

// x87 arithmetic keeps products in extended precision; storing one rounds it
// to a double, so every build truncates the same value.
double RoundedToDouble(double value)
{
    volatile double stored = value;
    return stored;
}

// Text of '%f': integer part right-aligned in width positions (left out for
// width 0), ".", then precision fraction digits, truncated. Returns its length.
int FixedPoint(char* field, double magnitude, int width, int precision)
{
    static const double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
    uint32_t integerPart = 0;
    double fraction = 0.0;
    if (magnitude != magnitude) {
        // Not a number: shown as zero.
    } else if (magnitude >= 4294967296.0) {
        // Beyond the 32-bit integer part: held at its largest value.
        integerPart = 0xFFFFFFFFu;
    } else {
        integerPart = static_cast<uint32_t>(magnitude);
        fraction = magnitude - integerPart;
    }
    int length = 0;
    if (width > 0) {
        FixedDigits(field, width, integerPart, 10, ' ');
        length = width;
    }
    field[length++] = '.';
    // Digits past the ninth are beyond what a 32-bit fraction value can hold;
    // they are written as zeros.
    const int computed = precision < 9 ? precision : 9;
    if (computed > 0) {
        const double scaled = RoundedToDouble(fraction * kPowersOfTen[computed]);
        FixedDigits(field + length, computed, static_cast<uint32_t>(scaled), 10, '0');
        length += computed;
    }
    for (int i = computed; i < precision; ++i) {
        field[length++] = '0';
    }
    return length;
}

// Writes a conversion's text; field has room for the terminating zero that
// the full-width conversion needs.
void PutField(Output& out, char* field, int length, bool fullWidth)
{
    if (fullWidth) {
        field[length] = '\0';
        out.PutFullWidth(field, static_cast<size_t>(-1));
    } else {
        out.Put(field, static_cast<size_t>(length));
    }
}

bool IsUpper(unsigned char letter)
{
    return letter >= 'A' && letter <= 'Z';
}


// The text of one numeric conversion: at most 99 width positions, ".", and
// 99 precision digits, so it always fits.
constexpr size_t kFieldSize = 256;

// "%s" and "%S" with the width that follows them: the text (null reads as
// empty), cut or filled with blanks to the width when one is given; "%S"
// writes it full-width, two bytes a position.
void PutTextConversion(Output& output, const unsigned char*& f, const char* text, bool fullWidth)
{
    const int width = ReadTwoDigits(f);
    if (text == nullptr) {
        text = "";
    }
    if (!fullWidth) {
        if (width == 0) {
            output.Put(text, std::strlen(text));
            return;
        }
        int i = 0;
        for (; i < width && text[i] != 0; ++i) {
            output.Put(text[i]);
        }
        for (; i < width; ++i) {
            output.Put(' ');
        }
    } else if (width == 0) {
        output.PutFullWidth(text, static_cast<size_t>(-1));
    } else {
        const size_t span = 2 * static_cast<size_t>(width);
        for (size_t i = output.PutFullWidth(text, span); i < span; ++i) {
            output.Put(' ');
        }
    }
}

// "%d": the sign mark and width, then the value right-aligned in the width
// with the sign before its first digit, or as many digits as it has.
void PutSignedConversion(Output& output, const unsigned char*& f, int32_t value, bool fullWidth)
{
    const char mark = ReadSignMark(f);
    const int width = ReadTwoDigits(f);
    char field[kFieldSize];
    const bool negative = value < 0;
    const uint32_t magnitude =
        negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    const char sign = SignFor(mark, negative);
    int length = width;
    bool signPlaced = false;
    if (width == 0) {
        length = PlainDigits(field, magnitude);
    } else {
        FixedDigits(field, width, magnitude, 10, ' ');
        signPlaced = sign != 0 && PlaceSign(field, width, sign);
    }
    if (sign != 0 && !signPlaced) {
        output.Put(sign);
    }
    PutField(output, field, length, fullWidth);
}

// "%u" and "%t": an unsigned value right-aligned in the width, filled with
// blanks, or as many digits as it has; a sign mark is read and ignored.
void PutUnsignedConversion(Output& output, const unsigned char*& f, uint64_t value, bool fullWidth)
{
    ReadSignMark(f);
    const int width = ReadTwoDigits(f);
    char field[kFieldSize];
    int length = width;
    if (width == 0) {
        length = PlainDigits(field, value);
    } else {
        FixedDigits(field, width, value, 10, ' ');
    }
    PutField(output, field, length, fullWidth);
}

// "%z", "%x" and "%o": exactly width digits in base, filled with zeros.
void PutZeroFilledConversion(Output& output, const unsigned char*& f, uint32_t value, unsigned base,
                             bool fullWidth)
{
    ReadSignMark(f);
    const int width = ReadTwoDigits(f);
    char field[kFieldSize];
    FixedDigits(field, width, value, base, '0');
    PutField(output, field, width, fullWidth);
}

// "%f": the sign mark, the width and, after ".", the precision.
void PutFloatConversion(Output& output, const unsigned char*& f, double value, bool fullWidth)
{
    const char mark = ReadSignMark(f);
    const int width = ReadTwoDigits(f);
    int precision = 0;
    if (*f == '.') {
        ++f;
        precision = ReadTwoDigits(f);
    }
    char field[kFieldSize];
    const bool negative = value < 0;
    const int length = FixedPoint(field, negative ? -value : value, width, precision);
    const char sign = SignFor(mark, negative);
    if (sign != 0 && !PlaceSign(field, width, sign)) {
        output.Put(sign);
    }
    PutField(output, field, length, fullWidth);
}

// The conversion letter after "%" (and after "%l", which only the integer
// letters take); 0 when the format ends, as it does after a lone "%" or
// "%l", and 1 for a "%l" before any other letter, which is passed over.
unsigned char ReadConversionLetter(const unsigned char*& f)
{
    unsigned char letter = *f;
    if (letter == 0) {
        return 0;
    }
    ++f;
    if (letter != 'l') {
        return letter;
    }
    const unsigned char next = *f;
    if (next == 0) {
        return 0;
    }
    ++f;
    return std::strchr("duxoDUXO", next) != nullptr ? next : 1;
}

}  // namespace

void FormatTextV(char* out, size_t capacity, const char* format, va_list args)
{
    if (capacity == 0) {
        return;
    }
    Output output(out, capacity);
    const unsigned char* f = reinterpret_cast<const unsigned char*>(format);
    while (*f != 0) {
        if (*f != '%') {
            output.Put(static_cast<char>(*f++));
            continue;
        }
        ++f;
        const unsigned char letter = ReadConversionLetter(f);
        if (letter == 0) {
            break;
        }
        const bool fullWidth = IsUpper(letter);
        switch (letter) {
        case '%': output.Put('%'); break;
        case 'c': output.Put(static_cast<char>(va_arg(args, int))); break;
        case 's':
        case 'S': PutTextConversion(output, f, va_arg(args, const char*), fullWidth); break;
        case 'd':
        case 'D': PutSignedConversion(output, f, va_arg(args, int32_t), fullWidth); break;
        case 'u':
        case 'U': PutUnsignedConversion(output, f, va_arg(args, uint32_t), fullWidth); break;
        case 't':
        case 'T': PutUnsignedConversion(output, f, va_arg(args, uint64_t), fullWidth); break;
        case 'z':
        case 'Z': PutZeroFilledConversion(output, f, va_arg(args, uint32_t), 10, fullWidth); break;
        case 'x':
        case 'X': PutZeroFilledConversion(output, f, va_arg(args, uint32_t), 16, fullWidth); break;
        case 'o':
        case 'O': PutZeroFilledConversion(output, f, va_arg(args, uint32_t), 8, fullWidth); break;
        case 'f':
        case 'F': PutFloatConversion(output, f, va_arg(args, double), fullWidth); break;
        case 'r': output.SkipToZero(); break;
        default: break;  // unknown letters are consumed and take no argument
        }
    }
    output.Finish();
}

void FormatText(char* out, size_t capacity, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTextV(out, capacity, format, args);
    va_end(args);
}

void FormatGroupedNumber(char* out, size_t capacity, uint32_t value, int width)
{
    if (capacity == 0) {
        return;
    }
    // Digits with their commas, built from the right: at most ten digits and
    // three commas. Cutting this to the width from the left gives what grouping
    // a width-wide digit field and dropping its first characters gives.
    char grouped[16];
    int start = sizeof grouped;
    int counted = 0;
    do {
        if (counted == 3) {
            grouped[--start] = ',';
            counted = 0;
        }
        grouped[--start] = kDigitAlphabet[value % 10];
        value /= 10;
        ++counted;
    } while (value != 0);
    const int length = static_cast<int>(sizeof grouped) - start;

    Output output(out, capacity);
    if (width < 0) {
        width = 0;
    }
    for (int i = length; i < width; ++i) {
        output.Put(' ');
    }
    const int kept = length < width ? length : width;
    output.Put(grouped + sizeof grouped - kept, static_cast<size_t>(kept));
    output.Finish();
}

int ToFullWidth(char* out, size_t capacity, const char* text)
{
    if (capacity == 0) {
        return 0;
    }
    // Whole characters only: one that does not fit ends the text.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const size_t room = capacity - 1;
    size_t length = 0;
    int replaced = 0;
    while (*p != 0) {
        const FullWidthChar c = ConvertChar(p);
        if (room - length < c.length) {
            break;
        }
        std::memcpy(out + length, c.bytes, c.length);
        length += c.length;
        p += c.consumed;
        if (c.replaced) {
            ++replaced;
        }
    }
    out[length] = '\0';
    return replaced;
}
