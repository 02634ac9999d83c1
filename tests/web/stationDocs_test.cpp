// The price list and the pump layout made from station descriptions built by hand.
#include "stationDocs.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Parser.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

namespace docs = azs_apps::stationDocs;
using pcudata::acfg_data;
using pcudata::acfg_hose_data;
using pcudata::acfg_pump_data;

const docs::stamp STAMP{"azs-7", "20240305140709"};
const std::string TAIL = ",\"Date\":\"20240305140709\",\"Id\":\"azs-7\"}";

// Three products (the second without a name) and the given pumps.
acfg_data station(std::vector<acfg_pump_data> pumps)
{
    acfg_data cfg;
    cfg.products = {
        {1, "АИ-92", 92, 1, 5250, 0, 0}, {2, "", 95, 1, 5699, 0, 0}, {3, "ДТ", 20, 2, 6120, 0, 0}};
    cfg.pumps = std::move(pumps);
    return cfg;
}

acfg_pump_data pump(int num, std::vector<acfg_hose_data> hoses)
{
    return {num, 0, 0, std::move(hoses)};
}

struct docCase {
    const char* name;
    acfg_data cfg;
    docs::document doc;
    docs::hoseNumber hand;
    std::string expected;
};

class StationDocument : public ::testing::TestWithParam<docCase> {};

TEST_P(StationDocument, IsWrittenExactly)
{
    const docCase& c = GetParam();
    EXPECT_EQ(docs::build(c.doc, c.cfg, STAMP, c.hand), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StationDocument,
    ::testing::Values(
        docCase{"ProductWithoutNameHasNoProdName", station({}), docs::document::prices, docs::withHand,
                "[{\"Date\":\"20240305140709\",\"Id\":\"azs-7\",\"Price\":52.5,\"ProdName\":\"АИ-92\","
                "\"Product\":92},"
                "{\"Date\":\"20240305140709\",\"Id\":\"azs-7\",\"Price\":56.99,\"Product\":95},"
                "{\"Date\":\"20240305140709\",\"Id\":\"azs-7\",\"Price\":61.2,\"ProdName\":\"ДТ\","
                "\"Product\":20}]"},
        docCase{
            "HoseWithProductOutOfRangeHasOnlyTankAndHand",
            station({pump(1, {{1, 1, 0}, {2, 4, 5}, {3, 5, -1}, {4, 6, 1}})}), docs::document::config,
            docs::withHand,
            "{\"Columns\":{\"1\":{\"Fuels\":[{\"Hand\":1,\"ProdName\":\"АИ-92\",\"Product\":92,\"Tank\":1},"
            "{\"Hand\":2,\"Tank\":4},{\"Hand\":3,\"Tank\":5},{\"Hand\":4,\"Product\":95,\"Tank\":6}]}}" +
                TAIL},
        docCase{
            "PushedHosesHaveNoHand", station({pump(2, {{1, 3, 2}, {2, 4, 7}}), pump(3, {})}),
            docs::document::config, docs::withoutHand,
            "{\"Columns\":{\"2\":{\"Fuels\":[{\"ProdName\":\"ДТ\",\"Product\":20,\"Tank\":3},{\"Tank\":4}]},"
            "\"3\":{\"Fuels\":[]}}" +
                TAIL},
        docCase{"NoPumpSectionGivesEmptyColumns", station({}), docs::document::config, docs::withHand,
                "{\"Columns\":{}" + TAIL},
        docCase{
            "TwoPumpsWithOneNumberKeepTheLaterOne",
            station({pump(3, {{1, 1, 0}, {2, 2, 1}}), pump(4, {{1, 3, 2}}), pump(3, {{5, 9, 2}})}),
            docs::document::config, docs::withHand,
            "{\"Columns\":{\"3\":{\"Fuels\":[{\"Hand\":5,\"ProdName\":\"ДТ\",\"Product\":20,\"Tank\":9}]},"
            "\"4\":{\"Fuels\":[{\"Hand\":1,\"ProdName\":\"ДТ\",\"Product\":20,\"Tank\":3}]}}" +
                TAIL}),
    [](const ::testing::TestParamInfo<docCase>& info) { return std::string(info.param.name); });

// Whatever count the controller reports, the document stays JSON and the price a finite number.
TEST(StationDocumentPrices, EveryPriceIsAFiniteJsonNumber)
{
    const int64_t prices[] = {0, -1, 5199, std::numeric_limits<int64_t>::max(),
                              std::numeric_limits<int64_t>::min()};
    acfg_data cfg;
    for (int64_t p : prices) cfg.products.push_back({1, "X", 1, 1, p, 0, 0});
    std::string doc = docs::prices(cfg, STAMP);
    Poco::JSON::Array::Ptr list;
    ASSERT_NO_THROW(list = Poco::JSON::Parser().parse(doc).extract<Poco::JSON::Array::Ptr>()) << doc;
    ASSERT_EQ(list->size(), std::size(prices));
    for (unsigned i = 0; i < list->size(); ++i) {
        Poco::Dynamic::Var price = list->getObject(i)->get("Price");
        ASSERT_TRUE(price.isNumeric()) << doc;
        EXPECT_TRUE(std::isfinite(price.convert<double>()));
        EXPECT_DOUBLE_EQ(price.convert<double>(), static_cast<double>(prices[i]) / 100.0);
    }
}

// A controller that names its products in Windows-1251 still gets a document the platform can read.
TEST(StationDocumentPrices, NamesInAnotherEncodingStillGiveUtf8Json)
{
    acfg_data cfg;
    cfg.products.push_back({1, "\xC0\xC8-92", 92, 1, 5250, 0, 0});  // "АИ-92" in Windows-1251
    const std::string doc = docs::prices(cfg, STAMP);
    Poco::JSON::Array::Ptr list;
    ASSERT_NO_THROW(list = Poco::JSON::Parser().parse(doc).extract<Poco::JSON::Array::Ptr>()) << doc;
    EXPECT_EQ(list->getObject(0)->getValue<std::string>("ProdName"), "\xEF\xBF\xBD\xEF\xBF\xBD-92");
}

}  // namespace
