// The controller's configuration (ACFG) and price (APRS) blocks: the input is what the controller
// sends after the request, read by the session's block readers through a socket, then made into
// the documents for the platform.
//
// What must hold:
//  - the reader's result follows the first line: -1 with no usable header, the refusal's RES when
//    it answers another command (and nothing is read), else 0;
//  - each data line that begins with NUM inside a known section, up to {END} or the end of the
//    stream, gives exactly one record of that section; nothing else gives one;
//  - each record holds what its line gives when read field by field (KEY=VALUE, the library's
//    number conversion, -1 for a tank or pump number that does not convert, one hose per
//    non-empty ":S=" segment); texts never hold the separators they were cut at;
//  - both documents are JSON that reads back with one entry per product, and one column per
//    distinct pump number with one fuel per hose.
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <cstdlib>
#include <map>

#include "acfgData.h"
#include "fuzzSupport.h"
#include "fuzzTarget.h"
#include "stationDocs.h"
#include "str.h"

namespace {

namespace docs = azs_apps::stationDocs;
using pcudata::acfg_data;

enum class section { awaitHeader, between, products, payments, tanks, pumps, skip };

struct expectation {
    int result = -1;
    std::vector<std::string> products, payments, tanks, pumps;  // the data lines of each section
};

bool isHeader(const std::string& line)
{
    return line.size() >= 2 && line.front() == '{' && line.back() == '}' &&
           line.find_first_of("\r\n") == std::string::npos;
}

section sectionNamed(const std::string& header, bool prices)
{
    if (prices) return header == "{PRICES}" ? section::products : section::skip;
    if (header == "{PROD}") return section::products;
    if (header == "{PAYM}") return section::payments;
    if (header == "{TANK}") return section::tanks;
    if (header == "{PUMP}") return section::pumps;
    return section::skip;
}

// What the block reader must make of the lines, section by section.
expectation expected(const std::vector<std::string>& lines, const std::string& cmd, bool prices)
{
    expectation e;
    section state = section::awaitHeader;
    for (const std::string& line : lines) {
        if (line.empty()) break;
        if (state == section::awaitHeader) {
            pcudata::cntlMsgResult head;
            pcudata::parse_to_cntlres(line, head);
            if (head.Cmd != cmd) {
                e.result = head.Res;
                break;
            }
            e.result = 0;
            state = section::between;
            continue;
        }
        if (isHeader(line)) {
            if (line == "{END}") break;
            state = sectionNamed(line, prices);
            continue;
        }
        if (line.compare(0, 3, "NUM") != 0) continue;
        if (state == section::products) e.products.push_back(line);
        if (state == section::payments) e.payments.push_back(line);
        if (state == section::tanks) e.tanks.push_back(line);
        if (state == section::pumps) e.pumps.push_back(line);
    }
    return e;
}

// The pieces of text between any of the separators; empty pieces are kept.
std::vector<std::string> piecesOf(const std::string& text, const char* separators)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find_first_of(separators, start);
        pieces.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) return pieces;
        start = end + 1;
    }
}

// KEY=VALUE: the key before the first '=', the value up to the second; no value without a '='.
bool keyValue(const std::string& field, std::string& key, std::string& value)
{
    const size_t eq = field.find('=');
    key = field.substr(0, eq);
    if (eq == std::string::npos) return false;
    const size_t eq2 = field.find('=', eq + 1);
    value = field.substr(eq + 1, eq2 == std::string::npos ? eq2 : eq2 - eq - 1);
    return true;
}

void setInt(const std::string& text, int& field)
{
    int32_t v = 0;
    if (pcudata::str::_stoi(text, v) == 0) field = v;
}

void setLong(const std::string& text, int64_t& field)
{
    int64_t v = 0;
    if (pcudata::str::_stol(text, v) == 0) field = v;
}

// Product and payment lines: every KEY=VALUE field of every group, in order, into one record.
pcudata::acfg_prod_data expectedProduct(const std::string& line)
{
    pcudata::acfg_prod_data p;
    std::string key, value;
    for (const std::string& f : piecesOf(line, ";:")) {
        value.clear();
        keyValue(f, key, value);
        if (key == "NUM") setInt(value, p.num);
        if (key == "NAME") p.name = value;
        if (key == "COD") setInt(value, p.cod);
        if (key == "TYP") setInt(value, p.typ);
        if (key == "COLOR") setInt(value, p.color);
        if (key == "TAX") setInt(value, p.tax);
        if (key == "PRICE") setLong(value, p.price);
    }
    return p;
}

pcudata::acfg_paym_data expectedPayment(const std::string& line)
{
    pcudata::acfg_paym_data p;
    std::string key, value;
    for (const std::string& f : piecesOf(line, ";:")) {
        value.clear();
        keyValue(f, key, value);
        if (key == "NUM") setInt(value, p.num);
        if (key == "NAME") p.name = value;
        if (key == "COD") setInt(value, p.cod);
        if (key == "TYP") setInt(value, p.typ);
        if (key == "SET") setInt(value, p.set);
        if (key == "COLOR") setInt(value, p.color);
        if (key == "FLG") setInt(value, p.flg);
        if (key == "POS") setInt(value, p.pos);
    }
    return p;
}

// Numeric fields of tank and pump lines: a key whose value is missing or does not convert gives -1.
int64_t longOr(const std::string& field, std::string& key)
{
    std::string value;
    int64_t v = -1;
    if (keyValue(field, key, value)) setLong(value, v);
    return v;
}

int intOr(const std::string& field, std::string& key)
{
    std::string value;
    int v = -1;
    if (keyValue(field, key, value)) setInt(value, v);
    return v;
}

pcudata::acfg_tank_data expectedTank(const std::string& line)
{
    pcudata::acfg_tank_data t;
    std::string key;
    for (const std::string& f : piecesOf(line, ";:")) {
        const int64_t v = longOr(f, key);
        if (key == "NUM") t.num = static_cast<int>(v);
        if (key == "COD") t.cod = static_cast<int>(v);
        if (key == "VOL") t.vol = v;
    }
    return t;
}

// Segments between the ":S=" of the text before the first ';'.
std::vector<std::string> hoseSegments(const std::string& line)
{
    const std::string body = line.substr(0, line.find(';'));
    std::vector<std::string> segments;
    size_t start = 0;
    for (;;) {
        const size_t at = body.find(":S=", start);
        segments.push_back(body.substr(start, at == std::string::npos ? at : at - start));
        if (at == std::string::npos) return segments;
        start = at + 3;
    }
}

pcudata::acfg_pump_data expectedPump(const std::string& line)
{
    pcudata::acfg_pump_data p;
    const std::vector<std::string> segments = hoseSegments(line);
    std::string key;
    for (const std::string& f : piecesOf(segments[0], ":")) {
        key.clear();
        const int v = intOr(f, key);
        if (key == "NUM") p.num = v;
        if (key == "TYP") p.typ = v;
        if (key == "MINAUS") p.minaus = v;
    }
    for (size_t i = 1; i < segments.size(); ++i) {
        if (segments[i].empty()) continue;
        const std::vector<std::string> fields = piecesOf(segments[i], ":");
        pcudata::acfg_hose_data h;
        setInt(fields[0], h.num);
        for (size_t k = 1; k < fields.size(); ++k) {
            key.clear();
            const int v = intOr(fields[k], key);
            if (key == "TANK") h.tank = v;
            if (key == "PROD") h.prod = v;
        }
        p.hoses.push_back(h);
    }
    return p;
}

bool clean(const std::string& text)
{
    return text.find_first_of(";:=") == std::string::npos && text.find('\n') == std::string::npos;
}

bool sameProduct(const pcudata::acfg_prod_data& a, const pcudata::acfg_prod_data& b)
{
    return a.num == b.num && a.name == b.name && a.cod == b.cod && a.typ == b.typ && a.price == b.price &&
           a.tax == b.tax && a.color == b.color;
}

bool samePayment(const pcudata::acfg_paym_data& a, const pcudata::acfg_paym_data& b)
{
    return a.num == b.num && a.name == b.name && a.cod == b.cod && a.typ == b.typ && a.set == b.set &&
           a.color == b.color && a.flg == b.flg && a.pos == b.pos;
}

bool samePump(const pcudata::acfg_pump_data& a, const pcudata::acfg_pump_data& b)
{
    if (a.num != b.num || a.typ != b.typ || a.minaus != b.minaus || a.hoses.size() != b.hoses.size())
        return false;
    for (size_t i = 0; i < a.hoses.size(); ++i)
        if (a.hoses[i].num != b.hoses[i].num || a.hoses[i].tank != b.hoses[i].tank ||
            a.hoses[i].prod != b.hoses[i].prod)
            return false;
    return true;
}

void checkRecords(const acfg_data& cfg, const expectation& e)
{
    FUZZ_CHECK(cfg.products.size() == e.products.size());
    FUZZ_CHECK(cfg.payments.size() == e.payments.size());
    FUZZ_CHECK(cfg.tanks.size() == e.tanks.size());
    FUZZ_CHECK(cfg.pumps.size() == e.pumps.size());
    for (size_t i = 0; i < cfg.products.size(); ++i) {
        FUZZ_CHECK(sameProduct(cfg.products[i], expectedProduct(e.products[i])));
        FUZZ_CHECK(clean(cfg.products[i].name));
    }
    for (size_t i = 0; i < cfg.payments.size(); ++i) {
        FUZZ_CHECK(samePayment(cfg.payments[i], expectedPayment(e.payments[i])));
        FUZZ_CHECK(clean(cfg.payments[i].name));
    }
    for (size_t i = 0; i < cfg.tanks.size(); ++i) {
        const pcudata::acfg_tank_data t = expectedTank(e.tanks[i]);
        FUZZ_CHECK(cfg.tanks[i].num == t.num && cfg.tanks[i].cod == t.cod && cfg.tanks[i].vol == t.vol);
    }
    for (size_t i = 0; i < cfg.pumps.size(); ++i)
        FUZZ_CHECK(samePump(cfg.pumps[i], expectedPump(e.pumps[i])));
}

Poco::Dynamic::Var readBack(const std::string& json)
{
    try {
        Poco::JSON::Parser parser;
        return parser.parse(json);
    } catch (const Poco::Exception&) {
        FUZZ_CHECK(!"a station document is not JSON");
    }
    return Poco::Dynamic::Var();
}

void checkDocuments(const acfg_data& cfg)
{
    const docs::stamp stamp{"station-key", "20240101120000"};
    const Poco::Dynamic::Var prices = readBack(docs::prices(cfg, stamp));
    FUZZ_CHECK(prices.type() == typeid(Poco::JSON::Array::Ptr));
    FUZZ_CHECK(prices.extract<Poco::JSON::Array::Ptr>()->size() == cfg.products.size());

    for (docs::hoseNumber hand : {docs::withHand, docs::withoutHand}) {
        const Poco::Dynamic::Var config = readBack(docs::config(cfg, stamp, hand));
        FUZZ_CHECK(config.type() == typeid(Poco::JSON::Object::Ptr));
        Poco::JSON::Object::Ptr columns = config.extract<Poco::JSON::Object::Ptr>()->getObject("Columns");
        FUZZ_CHECK(!columns.isNull());
        std::map<std::string, size_t> hosesOfPump;  // the last pump of a number wins
        for (const pcudata::acfg_pump_data& p : cfg.pumps)
            hosesOfPump[std::to_string(p.num)] = p.hoses.size();
        FUZZ_CHECK(columns->size() == hosesOfPump.size());
        for (const auto& [num, hoses] : hosesOfPump) {
            Poco::JSON::Object::Ptr column = columns->getObject(num);
            FUZZ_CHECK(!column.isNull());
            Poco::JSON::Array::Ptr fuels = column->getArray("Fuels");
            FUZZ_CHECK(!fuels.isNull() && fuels->size() == hoses);
        }
    }
}

void readBlock(std::string_view input, bool prices)
{
    const std::string cmd = prices ? "APRS" : "ACFG";
    const expectation e = expected(fuzzing::linesAsRead(input), cmd, prices);
    std::unique_ptr<pcudata::pcuControl> session = fuzzing::sessionReading(input);
    if (!session) std::abort();  // no socket pair: the machine, not the parser
    acfg_data cfg;
    int err = -1;
    const int rc = prices ? session->_readPriceBlock(cfg, err) : session->_readCfBlock(cfg, err);
    FUZZ_CHECK(rc == e.result);
    FUZZ_CHECK(err == 0);
    checkRecords(cfg, e);
    checkDocuments(cfg);
}

}  // namespace

FUZZ_TARGET(stationBlock)
{
    fuzzing::quietLogs();
    const std::string_view block = input.substr(0, fuzzing::STREAM_INPUT_MAX);
    readBlock(block, false);
    readBlock(block, true);
}
