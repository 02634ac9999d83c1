#include "formFields.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTMLForm.h>

namespace azs_apps {

namespace {

// Well below HTMLForm's own limits on the count of fields and the length of a name or a value: a
// text past them is left to HTMLForm, which applies its limits.
constexpr size_t COMMON_FIELDS = 50;
constexpr size_t COMMON_LENGTH = 1000;

bool hexDigit(char c, int& value)
{
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    else
        return false;
    return true;
}

// Appends text[begin, end) decoded ('+' a blank, %XX the byte XX); false on a broken escape.
bool decode(const std::string& text, size_t begin, size_t end, std::string& out)
{
    out.reserve(end - begin);
    for (size_t i = begin; i < end; ++i) {
        char c = text[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            int hi = 0, lo = 0;
            if (end - i < 3 || !hexDigit(text[i + 1], hi) || !hexDigit(text[i + 2], lo)) return false;
            c = static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        out += c;
    }
    return true;
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

}  // namespace

void formFields::read(const std::string& text)
{
    if (readCommon(text)) return;
    Poco::Net::HTMLForm form;
    try {
        form.read(text);
    } catch (const Poco::Exception&) {
    }
    assign(form);
}

void formFields::assign(const Poco::Net::NameValueCollection& read)
{
    fields.assign(read.begin(), read.end());
}

std::string formFields::get(const std::string& name) const
{
    for (const auto& field : fields)
        if (sameName(field.first, name)) return field.second;
    return std::string();
}

// False, with nothing read, when the text needs HTMLForm.
bool formFields::readCommon(const std::string& text)
{
    if (!text.empty() && static_cast<unsigned char>(text[0]) == 0xef) return false;  // byte order mark
    std::vector<std::pair<std::string, std::string>> found;
    for (size_t pos = 0; pos < text.size();) {
        size_t amp = text.find('&', pos);
        if (amp == std::string::npos) amp = text.size();
        size_t eq = text.find('=', pos);
        size_t nameEnd = eq < amp ? eq : amp;
        size_t valueBegin = eq < amp ? eq + 1 : amp;
        if (found.size() == COMMON_FIELDS || nameEnd - pos >= COMMON_LENGTH ||
            amp - valueBegin >= COMMON_LENGTH)
            return false;
        found.emplace_back();
        if (!decode(text, pos, nameEnd, found.back().first) ||
            !decode(text, valueBegin, amp, found.back().second))
            return false;
        pos = amp + 1;
    }
    fields.swap(found);
    return true;
}

}  // namespace azs_apps
