#pragma once
// Glue between POCO's HTTP server and the application objects: one handler per request, which
// finds the path below the script path, borrows a root application object from the pool, lets its
// dispatcher run the matching endpoint, and makes sure the client always gets an answer.
#include <Poco/Logger.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>

#include <string>

namespace azs_apps {

class webService;
class httpContext;

class requestHandler : public Poco::Net::HTTPRequestHandler {
public:
    explicit requestHandler(webService& service);
    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

    // The path below the script path: "" for the script path itself, "/ping" for script + "/ping".
    // False when path is not below the script path.
    static bool belowScript(const std::string& script, const std::string& path, std::string& rest);

private:
    webService& service;
    Poco::Logger& log;

    void serve(httpContext& ctx, const std::shared_ptr<httpContext>& shared);
    void fail(httpContext& ctx, const std::string& what);
};

class requestFactory : public Poco::Net::HTTPRequestHandlerFactory {
public:
    explicit requestFactory(webService& service) : service(service) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(const Poco::Net::HTTPServerRequest&) override
    {
        return new requestHandler(service);
    }

private:
    webService& service;
};

}  // namespace azs_apps
