#include "commandLine.h"

#include <cstdint>

namespace sim {

namespace {

bool capitals(const std::string& s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (c < 'A' || c > 'Z') return false;
    return true;
}

// Canonical decimal text of an int32: "0", or an optional "-" and digits without a leading zero.
bool canonicalInt(const std::string& s, int& out)
{
    size_t i = s.size() > 0 && s[0] == '-' ? 1 : 0;
    if (i == s.size() || s.size() - i > 10) return false;
    if (s[i] == '0' && (s.size() - i > 1 || i == 1)) return false;
    int64_t v = 0;
    for (size_t k = i; k < s.size(); ++k) {
        if (s[k] < '0' || s[k] > '9') return false;
        v = v * 10 + (s[k] - '0');
    }
    if (i == 1) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<int>(v);
    return true;
}

bool parseArg(const std::string& piece, std::pair<std::string, int>& arg)
{
    size_t eq = piece.find('=');
    if (eq == std::string::npos) return false;
    arg.first = piece.substr(0, eq);
    return capitals(arg.first) && canonicalInt(piece.substr(eq + 1), arg.second);
}

}  // namespace

bool commandLine::has(const std::string& key) const
{
    for (const auto& a : args)
        if (a.first == key) return true;
    return false;
}

int commandLine::value(const std::string& key, int fallback) const
{
    for (const auto& a : args)
        if (a.first == key) return a.second;
    return fallback;
}

int parseCommandLine(const std::string& line, commandLine& out)
{
    out = commandLine();
    if (line.compare(0, 2, "@!") != 0) return -1;
    size_t semi = line.find(';', 2);
    std::string name = line.substr(2, semi == std::string::npos ? std::string::npos : semi - 2);
    if (!capitals(name)) return -1;
    out.name = name;
    size_t pos = semi;
    while (pos != std::string::npos && pos + 1 < line.size()) {
        size_t next = line.find(';', pos + 1);
        std::string piece =
            line.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
        std::pair<std::string, int> arg;
        if (!parseArg(piece, arg)) return -2;
        out.args.push_back(arg);
        pos = next;
    }
    return 0;
}

}  // namespace sim
