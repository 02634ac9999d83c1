// The controller's configuration (ACFG) and price (APRS) blocks: the input is what the controller
// sends after the request, read by the session's block readers through a socket, then made into
// the documents for the platform.
//
// What must hold:
//  - the reader's result follows the first line: -1 with no usable header, the refusal's RES when
//    it answers another command (and nothing is read), else 0;
//  - each data line that begins with NUM inside a known section, up to {END} or the end of the
//    stream, gives exactly one record of that section; nothing else gives one;
//  - texts never hold the separators they were cut at, a pump has one hose per non-empty ":S="
//    segment, a hose's product is -1 unless the line gave one;
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

namespace {

namespace docs = azs_apps::stationDocs;
using pcudata::acfg_data;

enum class section { awaitHeader, between, products, payments, tanks, pumps, skip };

struct expectation {
    int result = -1;
    size_t products = 0, payments = 0, tanks = 0, pumps = 0;
    std::vector<std::string> pumpLines;
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
        if (state == section::products) ++e.products;
        if (state == section::payments) ++e.payments;
        if (state == section::tanks) ++e.tanks;
        if (state == section::pumps) {
            ++e.pumps;
            e.pumpLines.push_back(line);
        }
    }
    return e;
}

// Hoses of a pump line: the non-empty segments after each ":S=" of the text before the first ';'.
size_t hosesIn(const std::string& line)
{
    const std::string body = line.substr(0, line.find(';'));
    size_t hoses = 0;
    for (size_t at = body.find(":S="); at != std::string::npos;) {
        const size_t next = body.find(":S=", at + 3);
        const size_t len = (next == std::string::npos ? body.size() : next) - (at + 3);
        if (len > 0) ++hoses;
        at = next;
    }
    return hoses;
}

bool clean(const std::string& text)
{
    return text.find_first_of(";:=") == std::string::npos && text.find('\n') == std::string::npos;
}

void checkRecords(const acfg_data& cfg, const expectation& e)
{
    FUZZ_CHECK(cfg.products.size() == e.products);
    FUZZ_CHECK(cfg.payments.size() == e.payments);
    FUZZ_CHECK(cfg.tanks.size() == e.tanks);
    FUZZ_CHECK(cfg.pumps.size() == e.pumps);
    for (const pcudata::acfg_prod_data& p : cfg.products) FUZZ_CHECK(clean(p.name));
    for (const pcudata::acfg_paym_data& p : cfg.payments) FUZZ_CHECK(clean(p.name));
    for (size_t i = 0; i < cfg.pumps.size(); ++i) {
        const std::string& line = e.pumpLines[i];
        FUZZ_CHECK(cfg.pumps[i].hoses.size() == hosesIn(line));
        for (const pcudata::acfg_hose_data& h : cfg.pumps[i].hoses)
            if (h.prod != -1) FUZZ_CHECK(line.find("PROD=") != std::string::npos);
    }
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
