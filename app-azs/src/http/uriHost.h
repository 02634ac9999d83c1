#pragma once
// The authority a request names, in the Host field or in an absolute target: "host" or
// "host:port" with host a registered name (letters, digits, "-._~", the sub-delimiters "!$&'()*+,;="
// and %XX escapes), a dotted IPv4 address (which the name syntax covers) or an IPv6 or IPvFuture
// literal in brackets, and port decimal digits. An "http" target may not name an empty host, so
// neither may its Host field. Userinfo ("user@host") is not part of it: a request that carries
// credentials in its target is refused, they would end up in logs and caches.
#include <string>

namespace azs_apps {

bool isUriHost(const std::string& authority);

}  // namespace azs_apps
