#include "parseTrkState.h"

#include <cstring>

#include "split.h"
#include "str.h"

namespace pcudata {
namespace trkline {

bool toInt32(const std::string& text, int32_t& out)
{
    return !text.empty() && str::_stoi(text, out) == 0;
}

bool toInt64(const std::string& text, int64_t& out)
{
    return !text.empty() && str::_stol(text, out) == 0;
}

void setText(char (&field)[TRK_TEXT_SIZE], const std::string& text)
{
    const size_t len = text.size() < TRK_TEXT_SIZE - 1 ? text.size() : TRK_TEXT_SIZE - 1;
    std::memcpy(field, text.data(), len);
    field[len] = '\0';
}

namespace {

// Field k of a group gets value k when that value converts.
void setInt32(const std::vector<std::string>& values, size_t k, int32_t& field)
{
    if (k < values.size()) toInt32(values[k], field);
}

// 32-bit values that live in 64-bit fields: a value out of the 32-bit range is skipped.
void setInt32As64(const std::vector<std::string>& values, size_t k, int64_t& field)
{
    int32_t v = 0;
    if (k < values.size() && toInt32(values[k], v)) field = v;
}

void setInt64(const std::vector<std::string>& values, size_t k, int64_t& field)
{
    if (k < values.size()) toInt64(values[k], field);
}

// N and W of a stand-alone line: the first value only, "number{text}" or a bare number; the text
// runs to the next '}' or to the end. The text is emptied even when the value carries none.
void applyNumberText(const std::string& body, int32_t& number, char (&text)[TRK_TEXT_SIZE])
{
    const std::vector<std::string> values = split(body, ',');
    const std::string first = values.empty() ? std::string() : values[0];
    const size_t open = first.find('{');
    toInt32(first.substr(0, open), number);
    text[0] = '\0';
    if (open == std::string::npos) return;
    const size_t close = first.find('}', open + 1);
    const size_t len = close == std::string::npos ? std::string::npos : close - open - 1;
    setText(text, first.substr(open + 1, len));
}

void applyGroup(const std::string& group, trkState_t& s)
{
    const std::string body = group.substr(1);
    switch (group[0]) {
        case 'T':
            trkline::applyT(split(body, ','), s);
            break;
        case 'S':
            trkline::applyS(split(body, ','), s);
            break;
        case 'P':
            trkline::applyP(split(body, ','), s, true);
            break;
        case 'I':
            trkline::applyI(split(body, ','), s);
            break;
        case 'A':
            trkline::applyA(split(body, ','), s);
            break;
        case 'N':
            applyNumberText(body, s.prodCode, s.prodName);
            break;
        case 'W':
            applyNumberText(body, s.wCode, s.wText);
            break;
        default:
            break;
    }
}

}  // namespace

void applyT(const std::vector<std::string>& values, trkState_t& s)
{
    setInt32(values, 0, s.trk);
    setInt32(values, 1, s.trkParam1);
    setInt32(values, 2, s.trkParam2);
    setInt32(values, 3, s.trkParam3);
}

void applyS(const std::vector<std::string>& values, trkState_t& s)
{
    int32_t status = 0;
    if (!values.empty() && toInt32(values[0], status)) {
        s.prevStatus = s.status;
        s.status = status;
    }
    setInt32(values, 1, s.statusAux);
    setInt32(values, 2, s.needPayFlag);
    setInt32(values, 3, s.payWplace);
    setInt32(values, 4, s.lockWplace);
    setInt32(values, 5, s.lockType);
}

void applyP(const std::vector<std::string>& values, trkState_t& s, bool wide)
{
    int64_t* params[] = {&s.presetVolume, &s.presetParam1, &s.presetParam2, &s.presetParam3};
    for (size_t k = 0; k < 4; ++k) {
        if (wide)
            setInt64(values, k, *params[k]);
        else
            setInt32As64(values, k, *params[k]);
    }
    setInt32(values, 4, s.presetFlags);
    setInt32(values, 5, s.presetParam5);
}

void applyI(const std::vector<std::string>& values, trkState_t& s)
{
    setInt32(values, 0, s.trannum);
}

void applyA(const std::vector<std::string>& values, trkState_t& s)
{
    setInt64(values, 0, s.volume);
    setInt64(values, 1, s.amount);
}

}  // namespace trkline

int32_t parse_to_trkstate(const std::string& line, trkState_t& record)
{
    if (line.empty() || line[0] != 'T') return -1;
    for (const std::string& group : split(line, ';'))
        if (!group.empty()) trkline::applyGroup(group, record);
    return 0;
}

}  // namespace pcudata
