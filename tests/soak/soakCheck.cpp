#include "soakCheck.h"

#include <cmath>
#include <cstdio>
#include <map>

namespace soak {

namespace {

bool isFinal(const platformNotice& n)
{
    return n.path == "/completed" || n.path == "/canceled";
}

std::string field(const platformNotice& n, const char* name)
{
    auto it = n.form.find(name);
    return it == n.form.end() ? "" : it->second;
}

// The final notices of each order, every attempt, in the order they came.
std::map<std::string, std::vector<platformNotice>> finalsByOrder(const std::vector<platformNotice>& all)
{
    std::map<std::string, std::vector<platformNotice>> out;
    for (const platformNotice& n : all)
        if (isFinal(n)) out[n.orderId].push_back(n);
    return out;
}

std::vector<platformNotice> accepted(const std::vector<platformNotice>& finals)
{
    std::vector<platformNotice> out;
    for (const platformNotice& n : finals)
        if (n.status == 200) out.push_back(n);
    return out;
}

const char* placementText(placement p)
{
    switch (p) {
        case placement::refused:
            return "refused";
        case placement::unknown:
            return "unanswered";
        case placement::reserved:
            return "reserved";
    }
    return "?";
}

const char* startText(start s)
{
    switch (s) {
        case start::notSent:
            return "not sent";
        case start::refused:
            return "refused";
        case start::unknown:
            return "unanswered";
        case start::accepted:
            return "accepted";
    }
    return "?";
}

std::string describe(const soakOrder& o, const std::vector<platformNotice>& finals, int64_t deliveredMl,
                     const std::string& fault)
{
    char head[512];
    std::snprintf(head, sizeof head,
                  "%s: order '%s' on pump %d, plan %s, /order %s (%d, transaction %d), /fueling %s (%d), "
                  "delivered %lld ml\n",
                  fault.c_str(), o.id.c_str(), o.pump, o.plan.c_str(), placementText(o.placed), o.orderStatus,
                  o.trannum, startText(o.fueling), o.fuelingStatus, static_cast<long long>(deliveredMl));
    std::string text = head;
    text += " final notices:\n";
    for (const platformNotice& n : finals) {
        char line[512];
        std::snprintf(line, sizeof line, "  %.2f s %s -> %d litre=%s extendedOrderId=%s reason=%s\n", n.at,
                      n.path.c_str(), n.status, field(n, "litre").c_str(),
                      field(n, "extendedOrderId").c_str(), field(n, "reason").c_str());
        text += line;
    }
    if (finals.empty()) text += "  (none)\n";
    return text + " what the customer saw:\n" + o.events;
}

// What lies between the first two notices the platform took: the same notice sent again after
// fuelweb was killed right after the platform's answer (before it could note the delivery), or not.
std::string whyTwice(const std::vector<platformNotice>& took, const std::vector<double>& kills)
{
    const platformNotice& a = took[0];
    const platformNotice& b = took[1];
    double kill = -1;
    for (double k : kills)
        if (k >= a.at && k <= b.at) {
            kill = k;
            break;
        }
    const bool same = a.path == b.path && a.form == b.form;
    char text[256];
    if (same && kill >= 0) {
        std::snprintf(
            text, sizeof text,
            " (the same notice again: fuelweb was killed %.0f ms after the platform took the first, "
            "and its next start sent it again)",
            (kill - a.at) * 1000.0);
    } else if (same) {
        std::snprintf(text, sizeof text, " (the same notice again, without a kill of fuelweb between them)");
    } else {
        std::snprintf(text, sizeof text, " (different notices)");
    }
    return text;
}

}  // namespace

std::vector<std::string> heldPumps(soakStation& station)
{
    std::vector<std::string> out;
    for (int n : station.pumpNumbers()) {
        const sim::pumpState st = station.pcu.pump(n);
        std::string why;
        if (st.status != 2 && st.status != 3) why += " status " + std::to_string(st.status);
        if (st.lockType != 0 && st.lockWplace == soakStation::WPLACE)
            why += " payment locked by workplace " + std::to_string(st.lockWplace);
        if (st.needPayFlag != 0) why += " unpaid delivery of transaction " + std::to_string(st.trannum);
        std::string tag;
        bool tagged = false;
        if (!station.table.tagOf(n, tag, tagged)) {
            why += " pump table unreadable";
        } else if (tagged || !tag.empty()) {
            why += " tagged with order '" + tag + "'";
        }
        if (!why.empty()) out.push_back("pump " + std::to_string(n) + ":" + why);
    }
    return out;
}

bool settled(const std::vector<soakOrder>& orders, soakStation& station, std::string& waiting)
{
    const auto finals = finalsByOrder(station.notices());
    int open = 0;
    std::string first;
    for (const soakOrder& o : orders) {
        if (o.placed != placement::reserved) continue;
        auto it = finals.find(o.id);
        if (it != finals.end() && !accepted(it->second).empty()) continue;
        if (open++ == 0) first = o.id;
    }
    const std::vector<std::string> held = heldPumps(station);
    waiting.clear();
    if (open > 0) waiting = std::to_string(open) + " orders without a final notice (first '" + first + "')";
    if (!held.empty()) waiting += (waiting.empty() ? "" : "; ") + held.front();
    return open == 0 && held.empty();
}

std::string orderReport(const std::vector<soakOrder>& orders, soakStation& station,
                        const deliveryTracker& tracker)
{
    const auto finals = finalsByOrder(station.notices());
    std::string out;
    for (const soakOrder& o : orders) {
        auto it = finals.find(o.id);
        const std::vector<platformNotice> all =
            it == finals.end() ? std::vector<platformNotice>() : it->second;
        out += describe(o, all, tracker.delivered(o.pump, o.trannum), "order") + "\n";
    }
    return out;
}

verdict judge(const std::vector<soakOrder>& orders, soakStation& station, const deliveryTracker& tracker)
{
    verdict v;
    const auto finals = finalsByOrder(station.notices());
    const std::vector<double> kills = station.fuelwebKills();
    for (const soakOrder& o : orders) {
        ++v.placed;
        v.cancelsSent += o.cancelsSent;
        if (o.placed == placement::reserved) ++v.reserved;
        if (o.postPay) ++v.postPaid;
        if (o.placed == placement::refused) {
            ++v.refused;
            ++v.refusals["/order " + std::to_string(o.orderStatus) + " " + o.orderMsg];
        }
        if (o.placed == placement::unknown) ++v.unknownPlacement;
        if (o.fueling == start::accepted) ++v.started;
        if (o.fueling == start::refused) {
            ++v.fuelingRefused;
            ++v.refusals["/fueling " + std::to_string(o.fuelingStatus) + " " + o.fuelingMsg];
        }
        if (o.fueling == start::unknown) ++v.fuelingUnknown;

        auto it = finals.find(o.id);
        const std::vector<platformNotice> all =
            it == finals.end() ? std::vector<platformNotice>() : it->second;
        const std::vector<platformNotice> took = accepted(all);
        v.refusedAttempts += static_cast<int>(all.size() - took.size());
        const int64_t ml = tracker.delivered(o.pump, o.trannum);
        std::string fault;
        if (o.placed == placement::refused && !took.empty()) {
            ++v.unexpected;
            fault = "final notice for a refused order";
        } else if (o.placed == placement::reserved && took.empty()) {
            ++v.lost;
            fault = "no final notice";
        } else if (took.size() > 1) {
            ++v.duplicated;
            fault = std::to_string(took.size()) + " final notices" + whyTwice(took, kills);
        } else if (took.size() == 1) {
            const platformNotice& n = took.front();
            if (n.path == "/completed") {
                ++v.completed;
                if (o.postPay) ++v.postPaidCompleted;
                const double litre = std::atof(field(n, "litre").c_str());
                const bool ownTransaction = field(n, "extendedOrderId") == std::to_string(o.trannum);
                const bool ownLitres = ml > 0 && std::fabs(litre * 1000.0 - static_cast<double>(ml)) <= 5.0;
                const bool mayHaveStarted = o.fueling == start::accepted || o.fueling == start::unknown;
                if (o.placed != placement::reserved || !mayHaveStarted) {
                    ++v.unexpected;
                    fault = "completion of an order that was never started";
                } else if (!ownTransaction || !ownLitres) {
                    ++v.wrongLitres;
                    fault = "completion with another transaction or other litres";
                }
            } else {
                ++v.cancelled;
                // A post-paid delivery that the order did not pay is the till's to settle; once
                // /fueling has taken it on, the order pays it.
                const bool tillPays = o.postPay && o.fueling != start::accepted;
                if (ml > 0 && !tillPays) {
                    ++v.wrongLitres;
                    fault = "cancellation although fuel was delivered";
                }
            }
        }
        if (fault.empty()) continue;
        v.problems.push_back(describe(o, all, ml, fault));
        v.failingOrders.push_back(o.id);
    }
    // Final notices for orders that no customer placed (ids cut or mixed up on the way).
    std::map<std::string, bool> known;
    for (const soakOrder& o : orders) known[o.id] = true;
    for (const auto& f : finals) {
        if (known.count(f.first)) continue;
        ++v.unexpected;
        v.problems.push_back("final notice for an order nobody placed: '" + f.first + "'\n");
    }
    for (const std::string& h : heldPumps(station)) {
        ++v.pumpsHeld;
        v.problems.push_back("pump left held: " + h + "\n");
    }
    return v;
}

}  // namespace soak
