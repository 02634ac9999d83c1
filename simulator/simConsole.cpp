#include "simConsole.h"

#include <cstdlib>
#include <sstream>
#include <vector>

#include "monitorLines.h"

namespace sim {

namespace {

struct args {
    std::vector<std::string> words;
    std::string line;

    // Integer argument i; `ok` turns false when it is missing or not a number.
    long long num(size_t i, bool& ok) const
    {
        if (i >= words.size()) {
            ok = false;
            return 0;
        }
        char* end = nullptr;
        long long v = std::strtoll(words[i].c_str(), &end, 10);
        if (words[i].empty() || *end != '\0') ok = false;
        return v;
    }
    std::string word(size_t i) const { return i < words.size() ? words[i] : ""; }
    // The text after the first k words, as typed (spaces inside kept).
    std::string rest(size_t k) const
    {
        size_t pos = 0;
        for (size_t i = 0; i < k; ++i) {
            pos = line.find_first_not_of(' ', pos);
            pos = line.find(' ', pos);
            if (pos == std::string::npos) return "";
        }
        pos = line.find_first_not_of(' ', pos);
        return pos == std::string::npos ? "" : line.substr(pos);
    }
};

// "*" stands for "any command" in fault commands.
std::string cmdName(const args& a)
{
    return a.word(1) == "*" ? "" : a.word(1);
}

const char* const usageError = "error: bad arguments (try help)";

std::string showPumps(pcuSimulator& pcu, const args& a)
{
    std::ostringstream o;
    for (const simPumpConfig& p : pcu.config().pumps) {
        bool ok = true;
        long long only = a.num(1, ok);
        if (ok && only != p.num) continue;
        pumpState s = pcu.pump(p.num);
        o << pumpLine(s) << " nozzle=" << (s.nozzleUp ? "up" : "down") << "\n";
    }
    std::string out = o.str();
    if (!out.empty()) out.pop_back();
    return out;
}

std::string showLines(pcuSimulator& pcu, const args& a)
{
    bool ok = true;
    long long k = a.num(1, ok);
    std::vector<std::string> lines = pcu.receivedControlLines();
    size_t from =
        ok && k >= 0 && static_cast<size_t>(k) < lines.size() ? lines.size() - static_cast<size_t>(k) : 0;
    std::string out;
    for (size_t i = from; i < lines.size(); ++i) out += lines[i] + (i + 1 < lines.size() ? "\n" : "");
    return out.empty() ? "(no lines)" : out;
}

std::string pumpAction(pcuSimulator& pcu, const args& a)
{
    bool ok = true;
    int n = static_cast<int>(a.num(1, ok));
    const std::string& c = a.words[0];
    if (!ok) return usageError;
    if (c == "lift") pcu.liftNozzle(n);
    if (c == "hang") pcu.hangNozzle(n);
    if (c == "pause") pcu.pauseDelivery(n);
    if (c == "resume") pcu.resumeDelivery(n);
    return "ok";
}

std::string pumpSetting(pcuSimulator& pcu, const args& a)
{
    bool ok = true;
    int n = static_cast<int>(a.num(1, ok));
    long long v = a.num(2, ok);
    const std::string& c = a.words[0];
    if (!ok) return usageError;
    if (c == "status") pcu.setPumpStatus(n, static_cast<int>(v));
    if (c == "neverlift") pcu.setNeverLift(n, v != 0);
    if (c == "zero") pcu.setZeroVolume(n, v != 0);
    if (c == "overfill") pcu.setOverfill(n, v);
    if (c == "flash") {
        long long ms = a.num(3, ok);
        if (!ok) return usageError;
        pcu.flashStatus(n, static_cast<int>(v), static_cast<int>(ms));
    }
    if (c == "reset") {
        bool given = true;
        long long s = a.num(3, given);
        pcu.resetAt(n, v, given ? static_cast<int>(s) : 3);
    }
    return "ok";
}

std::string localDelivery(pcuSimulator& pcu, const args& a)
{
    bool ok = true;
    int n = static_cast<int>(a.num(1, ok));
    int prod = static_cast<int>(a.num(2, ok));
    long long ml = a.num(3, ok);
    if (!ok) return usageError;
    int res = pcu.startLocalDelivery(n, prod, ml);
    return res == 1 ? "ok" : "error: refused with code " + std::to_string(res);
}

std::string fault(pcuSimulator& pcu, const args& a)
{
    bool ok = a.words.size() >= 2;
    const std::string& c = a.words[0];
    if (c == "refuse") {
        long long res = a.num(2, ok);
        if (!ok) return usageError;
        pcu.refuseNext(cmdName(a), static_cast<int>(res), a.word(3), a.words.size() > 4 ? a.rest(4) : "");
    } else if (c == "delay") {
        long long ms = a.num(2, ok);
        if (!ok) return usageError;
        pcu.delayNext(cmdName(a), static_cast<int>(ms));
    } else if (c == "interim") {
        long long count = a.num(2, ok);
        bool given = true;
        long long res = a.num(3, given);
        if (!ok) return usageError;
        pcu.intermediateNext(cmdName(a), static_cast<int>(count), given ? static_cast<int>(res) : 2);
    } else if (!ok) {
        return usageError;
    } else if (c == "drop") {
        pcu.dropNext(cmdName(a));
    } else if (c == "closenext") {
        pcu.closeOnNext(cmdName(a));
    } else if (c == "raw") {
        pcu.rawReplyNext(cmdName(a), a.rest(2));
    }
    return "ok";
}

std::string connection(pcuSimulator& pcu, const args& a)
{
    bool ctl = a.word(1) == "ctl";
    if (!ctl && a.word(1) != "mon") return usageError;
    const std::string& c = a.words[0];
    std::string text;
    if (c == "close") {
        ctl ? pcu.closeControlConnections() : pcu.closeMonitorConnections();
        return "ok";
    }
    if (c == "send") text = a.rest(2);
    if (c == "garbage") text = std::string("#\x01\x7f garbage ;;==@@ {}") + "\xff\xfe";
    if (c == "overlong") {
        bool ok = true;
        long long len = a.num(2, ok);
        if (!ok || len < 0 || len > 10 * 1024 * 1024) return usageError;
        text = std::string(static_cast<size_t>(len), ctl ? '@' : 'T');
    }
    ctl ? pcu.sendRawControlLine(text) : pcu.sendRawMonitorLine(text);
    return "ok";
}

std::string station(pcuSimulator& pcu, const args& a)
{
    bool ok = true;
    const std::string& c = a.words[0];
    if (c == "silent") {
        long long on = a.num(1, ok);
        if (!ok) return usageError;
        pcu.setMonitorSilent(on != 0);
    } else if (c == "driver") {
        long long v = a.num(1, ok);
        if (!ok) return usageError;
        pcu.setDriverVersion(static_cast<int>(v));
    } else if (c == "flags") {
        int n = static_cast<int>(a.num(1, ok));
        int s = static_cast<int>(a.num(2, ok));
        int e2 = static_cast<int>(a.num(3, ok));
        int cafe = static_cast<int>(a.num(4, ok));
        if (!ok) return usageError;
        pcu.setPumpFlags(n, s, e2, cafe);
    } else if (c == "clear") {
        pcu.clearFaults();
    }
    return "ok";
}

using handlerFn = std::string (*)(pcuSimulator&, const args&);

struct entry {
    const char* name;
    handlerFn fn;
};

const entry table[] = {
    {"show", showPumps},      {"lines", showLines},      {"lift", pumpAction},
    {"hang", pumpAction},     {"pause", pumpAction},     {"resume", pumpAction},
    {"status", pumpSetting},  {"flash", pumpSetting},    {"neverlift", pumpSetting},
    {"zero", pumpSetting},    {"overfill", pumpSetting}, {"reset", pumpSetting},
    {"local", localDelivery}, {"refuse", fault},         {"delay", fault},
    {"drop", fault},          {"interim", fault},        {"closenext", fault},
    {"raw", fault},           {"close", connection},     {"send", connection},
    {"garbage", connection},  {"overlong", connection},  {"silent", station},
    {"driver", station},      {"flags", station},        {"clear", station},
};

}  // namespace

std::string runConsoleCommand(pcuSimulator& pcu, const std::string& line)
{
    args a;
    a.line = line;
    std::istringstream in(line);
    for (std::string w; in >> w;) a.words.push_back(w);
    if (a.words.empty()) return "";
    if (a.words[0] == "help") return consoleHelp();
    for (const entry& e : table)
        if (a.words[0] == e.name) return e.fn(pcu, a);
    return "error: unknown command '" + a.words[0] + "' (try help)";
}

std::string consoleHelp()
{
    return "show [N]                  pump states (T line and nozzle)\n"
           "lines [K]                 last K control lines received (all without K)\n"
           "lift N | hang N           driver lifts / hangs up the nozzle of pump N\n"
           "pause N | resume N        pause (8) / resume (7) a delivery\n"
           "local N PROD ML           delivery started at the pump, paid later (ML 0 = until hang)\n"
           "status N S                force status S (2/3 idle, 0/1 no link, 13 off, 16 blocked, ...)\n"
           "flash N S MS              show status S for MS milliseconds, then the previous one\n"
           "neverlift N 0|1           the driver never lifts the nozzle\n"
           "zero N 0|1                deliveries stay at 0 ml\n"
           "overfill N ML             deliver ML beyond the preset\n"
           "reset N ML [S]            fall back to idle S (default 3) when the volume reaches ML\n"
           "refuse CMD RES [TCOD [TXT...]]  answer the next CMD with RES (1 = carry out, replace TCOD/TXT)\n"
           "delay CMD MS | drop CMD | closenext CMD | interim CMD COUNT [RES]\n"
           "raw CMD TEXT...           carry out the next CMD but answer TEXT\n"
           "                          (CMD * = the next command of any name)\n"
           "close ctl|mon             close all control / monitoring connections\n"
           "send ctl|mon TEXT...      send a raw line now\n"
           "garbage ctl|mon           send a garbage line now\n"
           "overlong ctl|mon LEN      send a line of LEN bytes now\n"
           "silent 0|1                stop / resume sending on the monitoring port\n"
           "driver V                  driver version in the D line\n"
           "flags N AUTOSTART E2 AUTOCAFE   per-pump E/Y flags\n"
           "clear                     forget queued control faults";
}

}  // namespace sim
