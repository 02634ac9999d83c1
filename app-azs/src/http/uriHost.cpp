#include "uriHost.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstring>

namespace azs_apps {

namespace {

bool isUnreserved(unsigned char c)
{
    return std::isalnum(c) || std::strchr("-._~", c) != nullptr;
}

bool isSubDelim(unsigned char c)
{
    return c != 0 && std::strchr("!$&'()*+,;=", c) != nullptr;
}

bool isRegName(const std::string& s)
{
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (isUnreserved(c) || isSubDelim(c)) continue;
        if (c != '%' || i + 2 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(s[i + 2])))
            return false;
        i += 2;
    }
    return true;
}

// "v" 1*HEXDIG "." 1*( unreserved / sub-delims / ":" )
bool isIpFuture(const std::string& s)
{
    if (s.size() < 4 || (s[0] != 'v' && s[0] != 'V')) return false;
    size_t dot = s.find('.');
    if (dot == std::string::npos || dot < 2 || dot + 1 == s.size()) return false;
    for (size_t i = 1; i < dot; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
    for (size_t i = dot + 1; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (!isUnreserved(c) && !isSubDelim(c) && c != ':') return false;
    }
    return true;
}

bool isIpLiteral(const std::string& s)
{
    in6_addr a;
    return isIpFuture(s) || (s.find_first_of(std::string("%\0", 2)) == std::string::npos &&
                             ::inet_pton(AF_INET6, s.c_str(), &a) == 1);
}

}  // namespace

bool isUriHost(const std::string& authority)
{
    size_t end;
    if (!authority.empty() && authority[0] == '[') {
        end = authority.find(']');
        if (end == std::string::npos || !isIpLiteral(authority.substr(1, end - 1))) return false;
        ++end;
    } else {
        end = authority.find(':');
        if (end == std::string::npos) end = authority.size();
        if (end == 0 || !isRegName(authority.substr(0, end))) return false;
    }
    if (end == authority.size()) return true;
    return authority[end] == ':' && authority.find_first_not_of("0123456789", end + 1) == std::string::npos;
}

}  // namespace azs_apps
