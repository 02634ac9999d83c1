#include "parseTrkState.h"

#include <climits>
#include <cstring>

#include "str.h"

namespace pcudata {
namespace trkline {

namespace {

// Longest digit run converted here without any risk of overflow.
constexpr int MAX_PLAIN_DIGITS = 18;

// One value of a group, read in a single pass over its characters. A plain "[+-]digits" value
// (the controller's usual form) is converted on the way; any other form (blanks, trailing
// characters, very long numbers) is left to the library conversion, which knows all the rules.
struct scannedValue {
    std::string_view text;
    bool plain = false;
    int64_t number = 0;
};

// Scans from p up to the next sep or end; returns where the value stops.
const char* scanValue(const char* p, const char* end, char sep, scannedValue& v)
{
    const char* const start = p;
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) ++p;
    const char* const digits = p;
    int64_t n = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        if (p - digits < MAX_PLAIN_DIGITS) n = n * 10 + (*p - '0');  // longer runs are not plain
    const bool plainEnd = p == end || *p == sep;
    v.plain = plainEnd && p > digits && p - digits <= MAX_PLAIN_DIGITS;
    v.number = negative ? -n : n;
    while (p < end && *p != sep) ++p;
    v.text = std::string_view(start, static_cast<size_t>(p - start));
    return p;
}

bool valueToInt32(const scannedValue& v, int32_t& out)
{
    if (!v.plain) return toInt32(v.text, out);
    if (v.number < INT32_MIN || v.number > INT32_MAX) return false;
    out = static_cast<int32_t>(v.number);
    return true;
}

bool valueToInt64(const scannedValue& v, int64_t& out)
{
    if (!v.plain) return toInt64(v.text, out);
    out = v.number;
    return true;
}

// 32-bit values that live in 64-bit fields: a value out of the 32-bit range is skipped.
void setInt32As64(const scannedValue& v, int64_t& field)
{
    int32_t n = 0;
    if (valueToInt32(v, n)) field = n;
}

void applyT(size_t k, const scannedValue& v, trkState_t& s)
{
    int32_t* fields[] = {&s.trk, &s.trkParam1, &s.trkParam2, &s.trkParam3};
    if (k < 4) valueToInt32(v, *fields[k]);
}

void applyS(size_t k, const scannedValue& v, trkState_t& s)
{
    int32_t status = 0;
    if (k == 0) {
        if (!valueToInt32(v, status)) return;
        s.prevStatus = s.status;
        s.status = status;
        return;
    }
    int32_t* fields[] = {nullptr, &s.statusAux, &s.needPayFlag, &s.payWplace, &s.lockWplace, &s.lockType};
    if (k < 6) valueToInt32(v, *fields[k]);
}

void applyP(size_t k, const scannedValue& v, trkState_t& s, bool wide)
{
    int64_t* presets[] = {&s.presetVolume, &s.presetParam1, &s.presetParam2, &s.presetParam3};
    if (k < 4 && wide)
        valueToInt64(v, *presets[k]);
    else if (k < 4)
        setInt32As64(v, *presets[k]);
    else if (k == 4)
        valueToInt32(v, s.presetFlags);
    else if (k == 5)
        valueToInt32(v, s.presetParam5);
}

void applyValue(char letter, size_t k, const scannedValue& v, trkState_t& s, bool wideP)
{
    if (v.text.empty()) return;
    switch (letter) {
        case 'T':
            applyT(k, v, s);
            break;
        case 'S':
            applyS(k, v, s);
            break;
        case 'P':
            applyP(k, v, s, wideP);
            break;
        case 'I':
            if (k == 0) valueToInt32(v, s.trannum);
            break;
        case 'A':
            if (k == 0) valueToInt64(v, s.volume);
            if (k == 1) valueToInt64(v, s.amount);
            break;
        default:
            break;
    }
}

// N and W of a stand-alone line: the first value only, "number{text}" or a bare number; the text
// runs to the next '}' or to the end. The text is emptied even when the value carries none.
void applyNumberText(std::string_view body, int32_t& number, char (&text)[TRK_TEXT_SIZE])
{
    values v;
    splitValues(body, ',', v);
    const std::string_view first = v.count > 0 ? v.at[0] : std::string_view();
    const size_t open = first.find('{');
    toInt32(first.substr(0, open), number);
    text[0] = '\0';
    if (open == std::string_view::npos) return;
    const size_t close = first.find('}', open + 1);
    const size_t len = close == std::string_view::npos ? std::string_view::npos : close - open - 1;
    setText(text, first.substr(open + 1, len));
}

void applyGroup(std::string_view group, trkState_t& s)
{
    const std::string_view body = group.substr(1);
    if (group[0] == 'N')
        applyNumberText(body, s.prodCode, s.prodName);
    else if (group[0] == 'W')
        applyNumberText(body, s.wCode, s.wText);
    else
        applyGroupValues(group[0], body, s, true);
}

}  // namespace

// Plain loops rather than find(): the fields are a few bytes long, shorter than a library call.
void splitValues(std::string_view text, char sep, values& out)
{
    out.count = 0;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end && out.count < MAX_VALUES) {
        const char* q = p;
        while (q < end && *q != sep) ++q;
        out.at[out.count++] = std::string_view(p, static_cast<size_t>(q - p));
        p = q + 1;
    }
}

bool nextGroup(std::string_view line, size_t& pos, std::string_view& group)
{
    if (pos >= line.size()) return false;
    size_t end = pos;
    while (end < line.size() && line[end] != ';') ++end;
    group = line.substr(pos, end - pos);
    pos = end + 1;
    return true;
}

bool toInt32(std::string_view text, int32_t& out)
{
    scannedValue v;
    scanValue(text.data(), text.data() + text.size(), '\0', v);
    if (v.plain) return valueToInt32(v, out);
    return !text.empty() && str::_stoi(std::string(text), out) == 0;
}

bool toInt64(std::string_view text, int64_t& out)
{
    scannedValue v;
    scanValue(text.data(), text.data() + text.size(), '\0', v);
    if (v.plain) return valueToInt64(v, out);
    return !text.empty() && str::_stol(std::string(text), out) == 0;
}

void setText(char (&field)[TRK_TEXT_SIZE], std::string_view text)
{
    const size_t len = text.size() < TRK_TEXT_SIZE - 1 ? text.size() : TRK_TEXT_SIZE - 1;
    std::memcpy(field, text.data(), len);
    field[len] = '\0';
}

// One pass over the body: this runs for every group of every line the controller sends.
void applyGroupValues(char letter, std::string_view body, trkState_t& s, bool wideP)
{
    const char* p = body.data();
    const char* const end = p + body.size();
    for (size_t k = 0; p < end && k < MAX_VALUES; ++k) {
        scannedValue v;
        p = scanValue(p, end, ',', v) + 1;
        applyValue(letter, k, v, s, wideP);
    }
}

}  // namespace trkline

int32_t parse_to_trkstate(const std::string& line, trkState_t& record)
{
    if (line.empty() || line[0] != 'T') return -1;
    size_t pos = 0;
    std::string_view group;
    while (trkline::nextGroup(line, pos, group))
        if (!group.empty()) trkline::applyGroup(group, record);
    return 0;
}

}  // namespace pcudata
