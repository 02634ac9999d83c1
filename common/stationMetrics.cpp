#include "stationMetrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

namespace stationMetrics {

namespace {

// HTTP codes index their arrays directly; 0 stands for "no answer" and for anything out of range.
constexpr int CODES = 600;

int codeIndex(int code)
{
    return code > 0 && code < CODES ? code : 0;
}

struct cell {
    std::atomic<uint64_t> v{0};
    void add(uint64_t n = 1) { v.fetch_add(n, std::memory_order_relaxed); }
    uint64_t get() const { return v.load(std::memory_order_relaxed); }
};

// Names interned into a fixed number of slots; slot 0 is "other", also the slot of every name
// that finds the table full. A known name is found without the lock: slots are written once,
// before the count that publishes them.
template <size_t N>
class nameTable {
public:
    nameTable() { names[0] = "other"; }

    int intern(const std::string& name)
    {
        const size_t seen = count.load(std::memory_order_acquire);
        for (size_t i = 0; i < seen; ++i)
            if (names[i] == name) return static_cast<int>(i);
        std::lock_guard<std::mutex> lock(m);
        const size_t now = count.load(std::memory_order_relaxed);
        for (size_t i = seen; i < now; ++i)
            if (names[i] == name) return static_cast<int>(i);
        if (now == N) return 0;
        names[now] = name;
        count.store(now + 1, std::memory_order_release);
        return static_cast<int>(now);
    }
    size_t size() const { return count.load(std::memory_order_acquire); }
    const std::string& name(size_t i) const { return names[i]; }

private:
    std::array<std::string, N> names;
    std::atomic<size_t> count{1};
    std::mutex m;
};

constexpr size_t ROUTES = 32;
constexpr size_t KINDS = 16;
constexpr size_t COMMANDS = 32;

// Upper bounds of the command histogram's buckets: a controller answers in milliseconds, a
// missing answer takes the read budget of 10 s.
constexpr std::array<double, 11> BOUNDS = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};
constexpr std::array<const char*, 11> BOUND_TEXT = {"0.005", "0.01", "0.025", "0.05", "0.1", "0.25",
                                                    "0.5",   "1",    "2.5",   "5",    "10"};

// Each bucket counts only its own range (the last one is +Inf), so that the cumulative counts
// and the count made from them at a scrape agree with each other even while commands run.
struct histogram {
    std::array<cell, BOUNDS.size() + 1> buckets;
    cell sumUs;
    void observe(double seconds)
    {
        size_t i = 0;
        while (i < BOUNDS.size() && seconds > BOUNDS[i]) ++i;
        buckets[i].add();
        sumUs.add(seconds > 0 ? static_cast<uint64_t>(seconds * 1e6 + 0.5) : 0);
    }
    uint64_t count() const
    {
        uint64_t n = 0;
        for (const cell& b : buckets) n += b.get();
        return n;
    }
};

constexpr int CANCEL_CLASSES = static_cast<int>(cancelClass::other) + 1;

struct registry {
    cell completed;
    std::array<cell, CANCEL_CLASSES> cancelled;
    std::array<cell, CODES> refused;
    nameTable<KINDS> kinds;
    std::array<std::array<cell, CODES>, KINDS> notices;
    nameTable<COMMANDS> commands;
    std::array<histogram, COMMANDS> commandSeconds;
    std::array<cell, COMMANDS> commandFailures;
    nameTable<ROUTES> routes;
    std::array<std::array<cell, CODES>, ROUTES> requests;
    cell logDropped;
};

// Never destroyed: threads that outlive main's return (a notice sender, a late log line) may
// still count.
registry& reg()
{
    static registry* r = new registry;
    return *r;
}

// --- text of the format ---------------------------------------------------------------------

std::string escapeLabel(const std::string& v)
{
    std::string out;
    out.reserve(v.size());
    for (char c : v) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string number(double v)
{
    // The shortest of 15 or 17 digits that reads back as the same value.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    if (std::strtod(buf, nullptr) != v) std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

class writer {
public:
    void family(const char* name, const char* type, const char* help)
    {
        out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
    }
    void sample(const std::string& name, const std::string& labels, uint64_t v)
    {
        line(name, labels) << v << '\n';
    }
    void sample(const std::string& name, const std::string& labels, double v)
    {
        line(name, labels) << number(v) << '\n';
    }
    std::string text() const { return out.str(); }

private:
    std::ostringstream out;
    std::ostringstream& line(const std::string& name, const std::string& labels)
    {
        out << name;
        if (!labels.empty()) out << '{' << labels << '}';
        out << ' ';
        return out;
    }
};

std::string label(const char* key, const std::string& value)
{
    return std::string(key) + "=\"" + escapeLabel(value) + '"';
}

std::string codeText(size_t code)
{
    return code == 0 ? "error" : std::to_string(code);
}

void orders(writer& w, registry& r)
{
    w.family("fuelgate_orders_total", "counter",
             "Orders by outcome: completed, cancelled by reason class, refused at /order by answer code.");
    w.sample("fuelgate_orders_total", label("outcome", "completed"), r.completed.get());
    for (int c = 0; c < CANCEL_CLASSES; ++c)
        w.sample("fuelgate_orders_total",
                 label("outcome", std::string("cancelled_") + cancelClassName(static_cast<cancelClass>(c))),
                 r.cancelled[c].get());
    for (size_t code = 0; code < r.refused.size(); ++code) {
        const uint64_t n = r.refused[code].get();
        if (n == 0) continue;
        w.sample("fuelgate_orders_total", label("outcome", "refused_" + codeText(code)), n);
    }
}

void notices(writer& w, registry& r)
{
    w.family("fuelgate_notice_attempts_total", "counter",
             "Attempts to send a notice to the platform, by notice and answer code (error: no answer).");
    for (size_t k = 0; k < r.kinds.size(); ++k)
        for (size_t code = 0; code < CODES; ++code) {
            const uint64_t n = r.notices[k][code].get();
            if (n == 0) continue;
            w.sample("fuelgate_notice_attempts_total",
                     label("kind", r.kinds.name(k)) + ',' + label("code", codeText(code)), n);
        }
}

void controller(writer& w, registry& r)
{
    w.family("fuelgate_controller_command_seconds", "histogram",
             "Time from sending a controller command to its final reply, by command.");
    for (size_t s = 0; s < r.commands.size(); ++s) {
        const histogram& h = r.commandSeconds[s];
        if (s == 0 && h.count() == 0) continue;  // no name fell to "other"
        const std::string cmd = label("command", r.commands.name(s));
        uint64_t cumulative = 0;
        for (size_t b = 0; b < BOUNDS.size(); ++b) {
            cumulative += h.buckets[b].get();
            w.sample("fuelgate_controller_command_seconds_bucket", cmd + ",le=\"" + BOUND_TEXT[b] + '"',
                     cumulative);
        }
        cumulative += h.buckets[BOUNDS.size()].get();
        w.sample("fuelgate_controller_command_seconds_bucket", cmd + ",le=\"+Inf\"", cumulative);
        w.sample("fuelgate_controller_command_seconds_sum", cmd, static_cast<double>(h.sumUs.get()) / 1e6);
        w.sample("fuelgate_controller_command_seconds_count", cmd, cumulative);
    }
    w.family("fuelgate_controller_failures_total", "counter",
             "Controller commands that got no usable reply (send or read failed), by command.");
    for (size_t s = 0; s < r.commands.size(); ++s)
        if (s != 0 || r.commandSeconds[0].count() != 0)
            w.sample("fuelgate_controller_failures_total", label("command", r.commands.name(s)),
                     r.commandFailures[s].get());
}

void http(writer& w, registry& r)
{
    w.family("fuelgate_http_requests_total", "counter", "HTTP requests answered, by route and status code.");
    for (size_t s = 0; s < r.routes.size(); ++s)
        for (size_t code = 0; code < CODES; ++code) {
            const uint64_t n = r.requests[s][code].get();
            if (n == 0) continue;
            w.sample("fuelgate_http_requests_total",
                     label("route", r.routes.name(s)) + ',' + label("code", codeText(code)), n);
        }
}

// Every pump status code the table knows shows, 0 when no pump shows it, so that a series does
// not vanish while its pumps are elsewhere.
void pumps(writer& w, const gauges& g)
{
    std::map<int, int> all;
    for (int s = -1; s <= 16; ++s) all[s] = 0;
    for (const auto& [status, n] : g.pumpsByStatus) all[status] = n;
    w.family("fuelgate_pumps", "gauge", "Configured pumps by the status code the pump table shows.");
    for (const auto& [status, n] : all)
        w.sample("fuelgate_pumps", label("status", std::to_string(status)), static_cast<uint64_t>(n));
}

void gaugeValues(writer& w, const gauges& g)
{
    auto one = [&w](const char* name, const char* help, double v) {
        w.family(name, "gauge", help);
        w.sample(name, "", v);
    };
    one("fuelgate_notices_pending", "Final notices the platform has not taken yet.", g.noticesPending);
    one("fuelgate_notices_abandoned", "Final notices given up after the last attempt.", g.noticesAbandoned);
    one("fuelgate_notice_oldest_pending_seconds", "Age of the oldest final notice not yet taken (0: none).",
        g.noticeOldestPendingSeconds);
    one("fuelgate_controller_up", "1 while the controller's control port answers.", g.controllerUp ? 1 : 0);
    one("fuelgate_pump_table_age_seconds", "Seconds since the monitor daemon last renewed the pump table.",
        g.pumpTableAgeSeconds);
    pumps(w, g);
    one("fuelgate_watches", "Orders being watched to their end.", g.watches);
}

// --- the process, read from /proc/self -----------------------------------------------------------

struct procStat {
    bool ok = false;
    double cpuSeconds = 0;
    double startTime = 0;
    double threads = 0;
    double virtualBytes = 0;
    double residentBytes = 0;
};

double bootTime()
{
    std::ifstream in("/proc/stat");
    std::string key;
    while (in >> key) {
        if (key == "btime") {
            double t = 0;
            in >> t;
            return t;
        }
        in.ignore(1 << 20, '\n');
    }
    return 0;
}

procStat readProcStat()
{
    procStat p;
    std::ifstream in("/proc/self/stat");
    std::string all;
    std::getline(in, all);
    // The command name in parentheses may hold spaces: the fields are counted after its end.
    const size_t close = all.rfind(')');
    if (close == std::string::npos) return p;
    std::istringstream fields(all.substr(close + 2));
    std::vector<std::string> f;
    for (std::string v; fields >> v;) f.push_back(v);
    // f[0] is field 3 (state): field n is f[n - 3].
    if (f.size() < 22) return p;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    const double page = static_cast<double>(sysconf(_SC_PAGESIZE));
    p.cpuSeconds = (std::stod(f[11]) + std::stod(f[12])) / tick;
    p.threads = std::stod(f[17]);
    p.startTime = bootTime() + std::stod(f[19]) / tick;
    p.virtualBytes = std::stod(f[20]);
    p.residentBytes = std::stod(f[21]) * page;
    p.ok = true;
    return p;
}

int openFds()
{
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n - 1;  // the listing's own descriptor
}

void process(writer& w)
{
    const procStat p = readProcStat();
    auto one = [&w](const char* name, const char* type, const char* help, double v) {
        w.family(name, type, help);
        w.sample(name, "", v);
    };
    if (p.ok) {
        one("process_cpu_seconds_total", "counter", "Total user and system CPU time spent in seconds.",
            p.cpuSeconds);
        one("process_start_time_seconds", "gauge", "Start time of the process since unix epoch in seconds.",
            p.startTime);
        one("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.", p.residentBytes);
        one("process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.", p.virtualBytes);
        one("process_threads", "gauge", "Number of OS threads in the process.", p.threads);
    }
    const int fds = openFds();
    if (fds >= 0) one("process_open_fds", "gauge", "Number of open file descriptors.", fds);
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY)
        one("process_max_fds", "gauge", "Maximum number of open file descriptors.",
            static_cast<double>(lim.rlim_cur));
}

bool startsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

std::string render(const gauges& g)
{
    registry& r = reg();
    writer w;
    orders(w, r);
    notices(w, r);
    controller(w, r);
    http(w, r);
    w.family("fuelgate_log_lines_dropped_total", "counter",
             "Log lines dropped because the writer's queue was full.");
    w.sample("fuelgate_log_lines_dropped_total", "", r.logDropped.get());
    gaugeValues(w, g);
    process(w);
    return w.text();
}

// The texts are those the delivery and the keeper of the holds send to the platform.
cancelClass classifyCancel(const std::string& reason)
{
    if (startsWith(reason, "Отмена заказа по таймауту")) return cancelClass::timeout;
    if (startsWith(reason, "Произошел сброс ТРК")) return cancelClass::reset;
    if (startsWith(reason, "Нулевой объем отпуска")) return cancelClass::zeroVolume;
    if (startsWith(reason, "Ошибка пуска ТРК") || startsWith(reason, "Ошибка подключения к ТРК"))
        return cancelClass::startFailed;
    if (startsWith(reason, "Нет связи с ТРК")) return cancelClass::link;
    if (startsWith(reason, "Отмена оплаты заказа") ||
        startsWith(reason, "Отмена заказа (Не удалось провести оплату"))
        return cancelClass::payment;
    if (startsWith(reason, "Отмена заказа оператором")) return cancelClass::byOperator;
    return cancelClass::other;
}

const char* cancelClassName(cancelClass c)
{
    switch (c) {
        case cancelClass::timeout:
            return "timeout";
        case cancelClass::reset:
            return "reset";
        case cancelClass::zeroVolume:
            return "zero_volume";
        case cancelClass::startFailed:
            return "start_failed";
        case cancelClass::payment:
            return "payment";
        case cancelClass::link:
            return "link";
        case cancelClass::byOperator:
            return "operator";
        default:
            return "other";
    }
}

void orderCompleted()
{
    reg().completed.add();
}

void orderCancelled(cancelClass c)
{
    reg().cancelled[static_cast<size_t>(c)].add();
}

void orderCancelled(const std::string& reason)
{
    orderCancelled(classifyCancel(reason));
}

void orderRefused(int httpCode)
{
    reg().refused[codeIndex(httpCode)].add();
}

void noticeAttempt(const std::string& path, int code)
{
    registry& r = reg();
    const int kind = r.kinds.intern(path.empty() || path[0] != '/' ? path : path.substr(1));
    r.notices[kind][codeIndex(code)].add();
}

int commandSlot(const char* name)
{
    return reg().commands.intern(name);
}

void controllerCommand(int slot, double seconds, bool failed)
{
    registry& r = reg();
    const size_t s = slot >= 0 && static_cast<size_t>(slot) < COMMANDS ? slot : 0;
    r.commandSeconds[s].observe(seconds);
    if (failed) r.commandFailures[s].add();
}

int routeSlot(const std::string& name)
{
    return reg().routes.intern(name);
}

int otherRoute()
{
    return 0;
}

void httpRequest(int slot, int code)
{
    const size_t s = slot >= 0 && static_cast<size_t>(slot) < ROUTES ? slot : 0;
    reg().requests[s][codeIndex(code)].add();
}

void logLinesDropped(uint64_t lines)
{
    reg().logDropped.add(lines);
}

}  // namespace stationMetrics
