// The floor of the HTTP library: a bare POCO HTTPServer whose one handler answers every request
// with the body of a /ping answer for an idle pump (the same bytes and fields fuelweb sends), with
// a thread limit like fuelweb's workers. bench/ping_bench.sh measures it in the same run as /ping.
//
//   bare_poco_server PORT [THREADS]     THREADS defaults to 64, fuelweb's default worker count
//
// Runs until SIGINT or SIGTERM.
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/ThreadPool.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string BODY =
    "{\"Description\":\"Исходное состояние ТРК, пистолет повешен\",\"Status\":\"Free\",\"statusId\":3}";

class answer : public Poco::Net::HTTPRequestHandler {
public:
    void handleRequest(Poco::Net::HTTPServerRequest&, Poco::Net::HTTPServerResponse& resp) override
    {
        resp.set("Content-Encoding", "utf-8");
        resp.set("Content-Language", "ru");
        resp.setContentType("application/json");
        resp.sendBuffer(BODY.data(), BODY.size());
    }
};

class factory : public Poco::Net::HTTPRequestHandlerFactory {
public:
    Poco::Net::HTTPRequestHandler* createRequestHandler(const Poco::Net::HTTPServerRequest&) override
    {
        return new answer;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bare_poco_server PORT [THREADS]\n");
        return 2;
    }
    int threads = argc > 2 ? std::atoi(argv[2]) : 64;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    Poco::ThreadPool pool(2, threads);
    auto* params = new Poco::Net::HTTPServerParams;
    params->setMaxThreads(threads);
    params->setMaxQueued(4 * threads);
    Poco::Net::ServerSocket socket(
        Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(std::atoi(argv[1]))));
    Poco::Net::HTTPServer server(new factory, pool, socket, params);
    server.start();

    int sig = 0;
    sigwait(&set, &sig);
    server.stopAll(true);
    return 0;
}
