#pragma once
// What a worker does with a complete request: finds the path below the script path, borrows a root
// application object from the pool, lets its dispatcher run the matching endpoint, makes sure the
// client always gets an answer, and hands the connection back to the reader (for the client's
// next request, or to be closed).
#include <Poco/Logger.h>

#include <memory>
#include <string>

namespace azs_apps {

class webService;
class httpContext;
class httpConnection;
class requestReader;

class requestHandler {
public:
    requestHandler(webService& service, requestReader& reader);
    // Runs on a worker thread for the whole work of the request, also what its handler does after
    // the answer is out.
    void serve(std::unique_ptr<httpConnection> conn);

    // The path below the script path: "" for the script path itself, "/ping" for script + "/ping".
    // False when path is not below the script path.
    static bool belowScript(const std::string& script, const std::string& path, std::string& rest);

private:
    webService& service;
    requestReader& reader;
    Poco::Logger& log;

    void route(httpContext& ctx, const std::shared_ptr<httpContext>& shared);
    void fail(httpContext& ctx, const std::string& what);
};

}  // namespace azs_apps
