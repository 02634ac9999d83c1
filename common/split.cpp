#include "split.h"

namespace pcudata {

std::vector<std::string> split(const std::string& text, char ch)
{
    std::vector<std::string> out;
    split2v(text, ch, &out);
    return out;
}

std::vector<std::string> split(const std::string& text, const std::string& delim)
{
    std::vector<std::string> out;
    split2v(text, delim, &out);
    return out;
}

int32_t split2v(const std::string& text, char ch, std::vector<std::string>* out)
{
    if (out == nullptr) return -1;
    out->clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t at = text.find(ch, start);
        if (at == std::string::npos) at = text.size();
        out->push_back(text.substr(start, at - start));
        start = at + 1;
    }
    return 0;
}

int32_t split2v(const std::string& text, const std::string& delim, std::vector<std::string>* out)
{
    if (out == nullptr) return -1;
    out->clear();
    if (text.empty()) return 0;
    if (delim.empty()) {
        out->push_back(text);
        return 0;
    }
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(delim, start);
        if (at == std::string::npos) break;
        out->push_back(text.substr(start, at - start));
        start = at + delim.size();
    }
    out->push_back(text.substr(start));
    return 0;
}

}  // namespace pcudata
