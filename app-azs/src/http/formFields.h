#pragma once
// The fields of a query string or of a URL-encoded form body: name=value pairs joined by '&',
// with '+' for a blank and %XX escapes. They read exactly as Poco's HTMLForm reads them (the same
// names, values and order, names compared without regard to ASCII case, the first of equal names
// found), but the common text, short and well-formed, is read here in one pass: HTMLForm's
// stream, one character at a time, cost a fifth of a /ping request. Anything unusual (a broken
// escape, a byte order mark, very many or very long fields) is left to HTMLForm itself, so its
// limits and its way with faults stay as they are.
#include <Poco/Net/NameValueCollection.h>

#include <string>
#include <utility>
#include <vector>

namespace azs_apps {

class formFields {
public:
    // Reads the fields of text, replacing any read before. A malformed or oversized text leaves
    // the fields read before the fault; the handler then finds the missing values empty and
    // answers accordingly instead of the server failing the request.
    void read(const std::string& text);
    // Takes the fields of a form that Poco has read (multipart bodies).
    void assign(const Poco::Net::NameValueCollection& read);
    // The value of the first field of that name; empty when there is none.
    std::string get(const std::string& name) const;

private:
    std::vector<std::pair<std::string, std::string>> fields;

    bool readCommon(const std::string& text);
};

}  // namespace azs_apps
