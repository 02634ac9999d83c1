// pcuSimulator: the pump controller simulator as a program, for the demo and manual testing.
// Options and console commands: simulator/README.md.
#include <getopt.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "consolePort.h"
#include "fuelgateVersion.h"
#include "pcuSimulator.h"
#include "simConsole.h"

namespace {

constexpr int HELP = 0;
constexpr int VERSION = 1;
constexpr int RUN = 2;

struct options {
    int ask = RUN;
    int monPort = 65521;
    int ctlPort = 65520;
    int cmdPort = 0;
    bool useStdin = true;
    bool logLines = false;
    std::string station;
};

// Asked for (--help): on standard output; after a wrong option: on standard error.
void usage(FILE* to)
{
    std::fprintf(to,
                 "usage: pcuSimulator [--mon-port N] [--ctl-port N] [--station FILE] [--cmd-port N]\n"
                 "                    [--no-stdin] [--log]\n"
                 "  --mon-port N    monitoring port on 127.0.0.1 (default 65521)\n"
                 "  --ctl-port N    control port on 127.0.0.1 (default 65520)\n"
                 "  --station FILE  station description (JSON); default: 4 built-in pumps\n"
                 "  --cmd-port N    console commands over TCP on 127.0.0.1 (default: none)\n"
                 "  --no-stdin      do not read console commands from standard input\n"
                 "  --log           print every control line received\n"
                 "  --version       print the version and exit\n"
                 "  --help          print this help and exit\n");
}

int parseOptions(int argc, char** argv, options& o)
{
    static const option longOpts[] = {{"mon-port", required_argument, nullptr, 'm'},
                                      {"ctl-port", required_argument, nullptr, 'c'},
                                      {"station", required_argument, nullptr, 's'},
                                      {"cmd-port", required_argument, nullptr, 'p'},
                                      {"no-stdin", no_argument, nullptr, 'n'},
                                      {"log", no_argument, nullptr, 'l'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {nullptr, 0, nullptr, 0}};
    for (int c; (c = getopt_long(argc, argv, "h", longOpts, nullptr)) != -1;) {
        switch (c) {
            case 'm':
                o.monPort = std::atoi(optarg);
                break;
            case 'c':
                o.ctlPort = std::atoi(optarg);
                break;
            case 's':
                o.station = optarg;
                break;
            case 'p':
                o.cmdPort = std::atoi(optarg);
                break;
            case 'n':
                o.useStdin = false;
                break;
            case 'l':
                o.logLines = true;
                break;
            case 'h':
                o.ask = HELP;
                break;
            case 'V':
                o.ask = VERSION;
                break;
            default:
                return -1;
        }
    }
    return optind == argc ? 0 : -1;
}

// Console on standard input; ends quietly at end of input so that a simulator started in the
// background with </dev/null keeps running.
void readStdin(sim::pcuSimulator& pcu)
{
    for (std::string line; std::getline(std::cin, line);) {
        std::string answer = sim::runConsoleCommand(pcu, line);
        if (!answer.empty()) std::cout << answer << std::endl;
    }
}

void printNewLines(const sim::pcuSimulator& pcu, size_t& printed)
{
    std::vector<std::string> lines = pcu.receivedControlLines();
    for (; printed < lines.size(); ++printed) std::cout << "ctl> " << lines[printed] << std::endl;
}

// Blocks until SIGINT or SIGTERM, printing received control lines meanwhile when asked to.
void waitForSignal(const sigset_t& set, const sim::pcuSimulator& pcu, bool logLines)
{
    size_t printed = 0;
    timespec step{0, 200 * 1000 * 1000};
    for (;;) {
        int sig = sigtimedwait(&set, nullptr, &step);
        if (sig == SIGINT || sig == SIGTERM) return;
        if (logLines) printNewLines(pcu, printed);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    options o;
    if (parseOptions(argc, argv, o) != 0) {
        usage(stderr);
        return 2;
    }
    if (o.ask == HELP) {
        usage(stdout);
        return 0;
    }
    if (o.ask == VERSION) {
        std::printf("pcuSimulator %s\n", fuelgateVersionLine());
        return 0;
    }
    sim::stationConfig cfg = sim::defaultStation();
    std::string error;
    if (!o.station.empty() && sim::loadStationFile(o.station, cfg, error) != 0) {
        std::fprintf(stderr, "pcuSimulator: %s\n", error.c_str());
        return 2;
    }
    // Signals are taken by sigtimedwait in this thread only; every thread started later inherits
    // the mask.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);

    sim::pcuSimulator pcu(cfg);
    int err = pcu.start(o.monPort, o.ctlPort);
    if (err != 0) {
        std::fprintf(stderr, "pcuSimulator: cannot listen: %s\n", std::strerror(err));
        return 1;
    }
    sim::consolePort console(pcu);
    if (o.cmdPort > 0 && (err = console.start(o.cmdPort)) != 0) {
        std::fprintf(stderr, "pcuSimulator: cannot open the command port: %s\n", std::strerror(err));
        return 1;
    }
    std::cout << "pcuSimulator: monitoring 127.0.0.1:" << pcu.monPort()
              << ", control 127.0.0.1:" << pcu.ctlPort() << ", " << cfg.pumps.size() << " pumps" << std::endl;
    if (o.useStdin) std::thread(readStdin, std::ref(pcu)).detach();
    waitForSignal(set, pcu, o.logLines);
    console.stop();
    pcu.stop();
    std::cout << "pcuSimulator: stopped" << std::endl;
    // The stdin reader may still be blocked in a read; leave without waiting for it.
    std::_Exit(0);
}
