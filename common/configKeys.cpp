#include "configKeys.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace pcudata {

namespace {

constexpr int64_t I32_MIN = std::numeric_limits<int32_t>::min();
constexpr int64_t I32_MAX = std::numeric_limits<int32_t>::max();
constexpr unsigned WEB = readByFuelweb;
constexpr unsigned MON = readByDaemon;
constexpr unsigned BOTH = readByFuelweb | readByDaemon;

configKey text(const char* name, unsigned who)
{
    return {name, keyKind::text, 0, 0, who};
}
configKey word(const char* name)
{
    return {name, keyKind::nonEmptyText, 0, 0, WEB};
}
configKey integer(const char* name, int64_t lo, int64_t hi, unsigned who = WEB)
{
    return {name, keyKind::integer, lo, hi, who};
}
configKey number(const char* name)
{
    return {name, keyKind::number, 0, 0, WEB};
}
configKey flag(const char* name)
{
    return {name, keyKind::boolean, 0, 0, WEB};
}

std::vector<configKey> makeTable()
{
    return {
        // The HTTP service (serviceSettings): a value out of range stops fuelweb's start.
        word("service.ip"),
        integer("service.port", 0, 65535),
        integer("service.worker_threads", 1, 1024),
        integer("service.read_timeout", 1, 3600),
        integer("service.max_connections", 1, 65536),
        flag("service.bench_route"),
        word("logging.level"),
        text("logging.file", WEB),
        // fuelweb's own keys and the two both programs read (sharedConfig).
        text("fuelweb.script", WEB),
        text("fuelweb.ctl_key", WEB),
        text("fuelweb.upstream_endpoint", WEB),
        text("fuelweb.upstream_key", WEB),
        flag("fuelweb.upstream_verify_tls"),
        text("fuelweb.upstream_ca_file", WEB),
        text("fuelweb.ctl_addr", BOTH),
        integer("fuelweb.ctl_port", 1, 65535),
        integer("fuelweb.mon_port", 1, 65535, MON),
        integer("fuelweb.ctl_wplace", I32_MIN, I32_MAX),
        integer("fuelweb.ctl_wplace_type", I32_MIN, I32_MAX),
        integer("fuelweb.ctl_pmtcod", I32_MIN, I32_MAX),
        integer("fuelweb.ctl_pmtcod_corp", I32_MIN, I32_MAX),
        integer("fuelweb.ctl_pmtcod_pers", I32_MIN, I32_MAX),
        flag("fuelweb.ctl_postpay_allow"),
        integer("fuelweb.order_timeout", I32_MIN, I32_MAX),
        text("fuelweb.tmp_path", BOTH),
        text("fuelweb.run_path", MON),
        text("fuelweb.log_path", MON),
        number("fuelweb.ctl_underfill_order"),
        number("fuelweb.ctl_overfill_order"),
        number("fuelweb.ctl_overfill_lock"),
        number("fuelweb.ctl_overfill_lock_min_order"),
        flag("fuelweb.ctl_overfill_lock_allow"),
        flag("fuelweb.ctl_autocafe_allow"),
        text("fuelweb.state_path", WEB),
        // Not positive would mean never: the reader takes the default instead.
        integer("fuelweb.notice_resend_interval", 1, I32_MAX),
        integer("fuelweb.notice_resend_days", 1, I32_MAX),
        integer("fuelweb.journal_keep_days", I32_MIN, I32_MAX),
        // The operator listener; port 0 turns it off.
        word("fuelweb.operator.ip"),
        integer("fuelweb.operator.port", 0, 65535),
    };
}

std::string lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Edits between a and b, a swap of two neighbouring letters counting as one (optimal string
// alignment): "endpiont" is one edit from "endpoint", as the eye sees it.
size_t editDistance(const std::string& a, const std::string& b)
{
    const size_t n = a.size(), m = b.size();
    std::vector<std::vector<size_t>> d(n + 1, std::vector<size_t>(m + 1));
    for (size_t i = 0; i <= n; ++i) d[i][0] = i;
    for (size_t j = 0; j <= m; ++j) d[0][j] = j;
    for (size_t i = 1; i <= n; ++i) {
        for (size_t j = 1; j <= m; ++j) {
            const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[n][m];
}

constexpr size_t NEAR_EDITS = 2;

}  // namespace

const std::vector<configKey>& configKeys()
{
    static const std::vector<configKey> table = makeTable();
    return table;
}

const configKey* findConfigKey(const std::string& name)
{
    for (const configKey& k : configKeys())
        if (name == k.name) return &k;
    return nullptr;
}

std::string nearestConfigKey(const std::string& name)
{
    std::string best;
    size_t bestEdits = NEAR_EDITS + 1;
    const std::string folded = lower(name);
    for (const configKey& k : configKeys()) {
        const size_t edits = folded == lower(k.name) ? 0 : editDistance(name, k.name);
        if (edits < bestEdits) {
            best = k.name;
            bestEdits = edits;
        }
    }
    return best;
}

std::string acceptedText(const configKey& k)
{
    switch (k.kind) {
        case keyKind::text:
            return "строка";
        case keyKind::nonEmptyText:
            return "непустая строка";
        case keyKind::integer:
            return "целое число от " + std::to_string(k.lo) + " до " + std::to_string(k.hi);
        case keyKind::number:
            return "число";
        case keyKind::boolean:
            return "true или false";
    }
    return "";
}

}  // namespace pcudata
