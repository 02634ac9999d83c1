#include "stationConfig.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <fstream>
#include <set>
#include <sstream>

namespace sim {

namespace {

simPumpConfig makePump(int num, std::vector<simHose> hoses)
{
    simPumpConfig p;
    p.num = num;
    p.hoses = std::move(hoses);
    return p;
}

template <typename T>
void readKey(const Poco::JSON::Object::Ptr& obj, const char* key, T& out)
{
    if (obj->has(key)) out = obj->getValue<T>(key);
}

simProduct readProduct(const Poco::JSON::Object::Ptr& o)
{
    simProduct p;
    readKey(o, "num", p.num);
    readKey(o, "name", p.name);
    readKey(o, "cod", p.cod);
    readKey(o, "typ", p.typ);
    readKey(o, "price", p.price);
    readKey(o, "tax", p.tax);
    readKey(o, "color", p.color);
    return p;
}

simPayment readPayment(const Poco::JSON::Object::Ptr& o)
{
    simPayment p;
    readKey(o, "num", p.num);
    readKey(o, "name", p.name);
    readKey(o, "cod", p.cod);
    readKey(o, "typ", p.typ);
    readKey(o, "set", p.set);
    readKey(o, "color", p.color);
    readKey(o, "flg", p.flg);
    readKey(o, "pos", p.pos);
    return p;
}

simTank readTank(const Poco::JSON::Object::Ptr& o)
{
    simTank t;
    readKey(o, "num", t.num);
    readKey(o, "cod", t.cod);
    readKey(o, "vol", t.vol);
    return t;
}

simPumpConfig readPump(const Poco::JSON::Object::Ptr& o)
{
    simPumpConfig p;
    readKey(o, "num", p.num);
    readKey(o, "typ", p.typ);
    readKey(o, "minaus", p.minaus);
    readKey(o, "autoStart", p.autoStart);
    readKey(o, "flagE2", p.flagE2);
    readKey(o, "autoCafe", p.autoCafe);
    Poco::JSON::Array::Ptr hoses = o->getArray("hoses");
    for (size_t i = 0; hoses && i < hoses->size(); ++i) {
        Poco::JSON::Object::Ptr h = hoses->getObject(static_cast<unsigned>(i));
        simHose hose;
        readKey(h, "num", hose.num);
        readKey(h, "tank", hose.tank);
        readKey(h, "prod", hose.prod);
        p.hoses.push_back(hose);
    }
    return p;
}

// Returns false when the key holds something other than an array of objects.
template <typename T, typename F>
bool readList(const Poco::JSON::Object::Ptr& root, const char* key, std::vector<T>& out, F readOne)
{
    if (!root->has(key)) return true;
    Poco::JSON::Array::Ptr arr = root->getArray(key);
    if (!arr) return false;
    out.clear();
    for (size_t i = 0; i < arr->size(); ++i) {
        Poco::JSON::Object::Ptr o = arr->getObject(static_cast<unsigned>(i));
        if (!o) return false;
        out.push_back(readOne(o));
    }
    return true;
}

bool readStation(const Poco::JSON::Object::Ptr& root, stationConfig& cfg)
{
    readKey(root, "driverVersion", cfg.driverVersion);
    readKey(root, "tickMs", cfg.tickMs);
    readKey(root, "flowMlPerTick", cfg.flowMlPerTick);
    readKey(root, "repeatMs", cfg.repeatMs);
    readKey(root, "autoDriverTicks", cfg.autoDriverTicks);
    readKey(root, "cashWplace", cfg.cashWplace);
    readKey(root, "firstTrannum", cfg.firstTrannum);
    return readList(root, "products", cfg.products, readProduct) &&
           readList(root, "payments", cfg.payments, readPayment) &&
           readList(root, "tanks", cfg.tanks, readTank) && readList(root, "pumps", cfg.pumps, readPump);
}

// The controller's block and line grammar splits on these; a name holding one would corrupt the
// line that carries it.
bool cleanText(const std::string& s)
{
    return s.find_first_of(";:={}\n\r") == std::string::npos;
}

}  // namespace

stationConfig defaultStation()
{
    stationConfig cfg;
    cfg.products = {{1, "АИ-92", 92, 1, 5250, 20, 65280},
                    {2, "АИ-95", 95, 1, 5690, 20, 255},
                    {3, "ДТ", 20, 2, 6120, 20, 16711680}};
    cfg.payments = {{1, "Наличные", 1, 0, 1, 0, 0, 1},
                    {2, "Банковская карта", 2, 1, 1, 0, 0, 2},
                    {3, "Мобильное приложение", 8880, 3, 1, 0, 0, 3}};
    cfg.tanks = {{1, 92, 40000}, {2, 95, 40000}, {3, 20, 25000}};
    cfg.pumps = {makePump(1, {{1, 1, 0}, {2, 2, 1}}), makePump(2, {{1, 1, 0}, {2, 2, 1}}),
                 makePump(3, {{1, 1, 0}, {2, 2, 1}, {3, 3, 2}}), makePump(4, {{1, 3, 2}})};
    return cfg;
}

int parseStationJson(const std::string& text, stationConfig& cfg, std::string& error)
{
    try {
        Poco::JSON::Parser parser;
        Poco::Dynamic::Var v = parser.parse(text);
        Poco::JSON::Object::Ptr root = v.extract<Poco::JSON::Object::Ptr>();
        stationConfig next = cfg;
        if (!readStation(root, next)) {
            error = "pumps, products, payments and tanks must be arrays of objects";
            return -1;
        }
        if (validateStation(next, error) != 0) return -1;
        cfg = next;
        return 0;
    } catch (const Poco::Exception& e) {
        error = e.displayText();
    } catch (const std::exception& e) {
        error = e.what();
    }
    return -1;
}

int loadStationFile(const std::string& path, stationConfig& cfg, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot open " + path;
        return -1;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    return parseStationJson(ss.str(), cfg, error);
}

int validateStation(const stationConfig& cfg, std::string& error)
{
    if (cfg.tickMs < 1 || cfg.flowMlPerTick < 0 || cfg.repeatMs < 0) {
        error = "tickMs must be positive, flowMlPerTick and repeatMs not negative";
        return -1;
    }
    for (const simProduct& p : cfg.products)
        if (!cleanText(p.name)) error = "product name with a separator: " + p.name;
    for (const simPayment& p : cfg.payments)
        if (!cleanText(p.name)) error = "payment name with a separator: " + p.name;
    if (!error.empty()) return -1;
    std::set<int> seen;
    for (const simPumpConfig& p : cfg.pumps) {
        if (p.num < 1 || p.num > 32 || !seen.insert(p.num).second) {
            error = "pump number out of 1..32 or repeated: " + std::to_string(p.num);
            return -1;
        }
        for (const simHose& h : p.hoses) {
            if (h.prod < 0 || h.prod >= static_cast<int>(cfg.products.size())) {
                error = "pump " + std::to_string(p.num) + ": hose product outside the product list";
                return -1;
            }
        }
    }
    return 0;
}

const simProduct* productByCode(const stationConfig& cfg, int cod)
{
    for (const simProduct& p : cfg.products)
        if (p.cod == cod) return &p;
    return nullptr;
}

const simPumpConfig* pumpConfig(const stationConfig& cfg, int num)
{
    for (const simPumpConfig& p : cfg.pumps)
        if (p.num == num) return &p;
    return nullptr;
}

bool paymentKnown(const stationConfig& cfg, int cod)
{
    if (cfg.payments.empty()) return true;
    for (const simPayment& p : cfg.payments)
        if (p.cod == cod) return true;
    return false;
}

}  // namespace sim
