#pragma once
// One complete request as read from a connection: the request line and header fields (kept in a
// Poco request object, whose field lookup ignores case), and the whole body, already decoded from
// chunks when it came chunked.
#include <Poco/Net/HTTPRequest.h>

#include <string>

namespace azs_apps {

struct httpRequest {
    Poco::Net::HTTPRequest head;  // method, target in origin form, version, fields
    std::string body;
    bool lineRead = false;  // the request line was read (method and target are the client's)
    bool http10 = false;    // an HTTP/1.0 request: answered as such, and the connection closed
    bool keepAlive = true;  // the client lets the connection serve another request afterwards
    std::string peer;       // "address:port" of the client, for log lines

    // The path of the target without the query, for log lines (the query may carry keys).
    std::string pathForLog() const
    {
        const size_t most = 256;
        const std::string& uri = head.getURI();
        std::string path = uri.substr(0, uri.find('?'));
        return path.size() > most ? path.substr(0, most) + "..." : path;
    }
};

}  // namespace azs_apps
