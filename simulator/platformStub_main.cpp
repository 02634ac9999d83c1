// platformStub: the ordering platform's stand-in as a program. Prints one line per notice.
// Options: simulator/README.md.
#include <getopt.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>

#include "fuelgateVersion.h"
#include "platformStub.h"

namespace {

// Asked for (--help): on standard output; after a wrong option: on standard error.
void usage(FILE* to)
{
    std::fprintf(to,
                 "usage: platformStub [--port N] [--status PATH=CODE ...] [--delay PATH=MS ...]\n"
                 "  --port N          port on 127.0.0.1 (default 8090)\n"
                 "  --status P=CODE   answer CODE to POSTs on paths ending in P (default 200)\n"
                 "  --delay P=MS      hold the answers on P for MS milliseconds\n"
                 "  --version         print the version and exit\n"
                 "  --help            print this help and exit\n");
}

// "PATH=NUMBER" -> path and number; false when malformed.
bool pathValue(const char* arg, std::string& path, int& value)
{
    const char* eq = std::strrchr(arg, '=');
    if (!eq || eq == arg) return false;
    char* end = nullptr;
    value = static_cast<int>(std::strtol(eq + 1, &end, 10));
    path.assign(arg, eq);
    return *end == '\0' && end != eq + 1;
}

constexpr int HELP = 1;
constexpr int VERSION = 2;

// 0 to run, HELP or VERSION when asked for, -1 for a wrong option.
int parseOptions(int argc, char** argv, int& port, sim::platformStub& stub)
{
    static const option longOpts[] = {
        {"port", required_argument, nullptr, 'p'},  {"status", required_argument, nullptr, 's'},
        {"delay", required_argument, nullptr, 'd'}, {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},     {nullptr, 0, nullptr, 0}};
    std::string path;
    int value = 0;
    for (int c; (c = getopt_long(argc, argv, "h", longOpts, nullptr)) != -1;) {
        if (c == 'h' || c == 'V') return c == 'h' ? HELP : VERSION;
        if (c == 'p') {
            port = std::atoi(optarg);
        } else if ((c == 's' || c == 'd') && pathValue(optarg, path, value)) {
            c == 's' ? stub.setStatus(path, value) : stub.setDelay(path, value);
        } else {
            return -1;
        }
    }
    return optind == argc ? 0 : -1;
}

std::mutex printMutex;

void printNotice(const sim::platformRequest& r)
{
    std::lock_guard<std::mutex> g(printMutex);
    std::cout << r.method << " " << r.path << (r.query.empty() ? "" : "?" + r.query) << " [" << r.body
              << "] -> " << r.status << std::endl;
}

}  // namespace

int main(int argc, char** argv)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);

    sim::platformStub stub;
    int port = 8090;
    const int asked = parseOptions(argc, argv, port, stub);
    if (asked < 0) {
        usage(stderr);
        return 2;
    }
    if (asked == HELP) {
        usage(stdout);
        return 0;
    }
    if (asked == VERSION) {
        std::printf("platformStub %s\n", fuelgateVersionLine());
        return 0;
    }
    stub.setListener(printNotice);
    int err = stub.start(port);
    if (err != 0) {
        std::fprintf(stderr, "platformStub: cannot listen on port %d (error %d)\n", port, err);
        return 1;
    }
    std::cout << "platformStub: listening on " << stub.baseUrl() << std::endl;
    int sig = 0;
    sigwait(&set, &sig);
    stub.stop();
    std::cout << "platformStub: stopped" << std::endl;
    return 0;
}
