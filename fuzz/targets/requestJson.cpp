// The JSON body of the platform's requests, read as the endpoints read it: the typed fields with
// their defaults, and the order of /order made from them.
//
// What must hold:
//  - the body parses to 0, EMPTY_BODY (exactly when it is empty) or NOT_JSON, never throws, and a
//    body that did not parse has no fields;
//  - each field has at most one type: a text, a number or a flag; an integer field is a number with
//    an integral value, read the same as a real; a real is finite; whatever the field holds,
//    reading it with another type gives that type's default;
//  - the order's fields are the typed fields; its money has two decimals and its volume three, each
//    within half a unit of the last decimal of what was sent. Only an amount too large to count in
//    kopecks or millilitres becomes endless, which the order's field check refuses;
//  - /fueling reads the same fields to the same values, and a request that passes its field check
//    names a pump of 1..32, an order, an application, a product, and amounts above zero.
#include <cmath>
#include <limits>

#include "fueling.h"
#include "fuzzSupport.h"
#include "fuzzTarget.h"
#include "jsonBody.h"
#include "orderRequest.h"

namespace {

using azs_apps::jsonBody;

// The /fueling endpoint's own reading of the body.
struct fuelingReader : azs_apps::fueling {
    using fueling::checkFields;
    using fueling::readFields;
};

// The fields the endpoints read, and a few that no endpoint reads.
const char* const FIELDS[] = {"id",    "ExtendedId", "app_id",  "trk",     "prod", "price", "volume",
                              "summa", "contract",   "PostPay", "orderId", "",     "x",     "trk "};

// Two defaults per type: a field that gives the same value for both holds a value of that type.
struct typedField {
    bool isText, isInt, isReal, isFlag;
    int32_t intValue;
    double realValue;
};

typedField typesOf(const jsonBody& body, const std::string& name)
{
    typedField f{};
    f.isText = body.getString(name, "\x01") == body.getString(name, "\x02");
    const int32_t i1 = body.getInt(name, std::numeric_limits<int32_t>::min());
    const int32_t i2 = body.getInt(name, 7);
    f.isInt = i1 == i2;
    f.intValue = i1;
    const double r1 = body.getDouble(name, -1.5);
    const double r2 = body.getDouble(name, 2.5);
    f.isReal = r1 == r2;
    f.realValue = r1;
    f.isFlag = body.getBool(name, true) == body.getBool(name, false);
    return f;
}

void checkField(const jsonBody& body, const std::string& name)
{
    const typedField f = typesOf(body, name);
    FUZZ_CHECK(int(f.isText) + int(f.isReal) + int(f.isFlag) <= 1);
    if (f.isInt) FUZZ_CHECK(f.isReal && f.realValue == static_cast<double>(f.intValue));
    if (f.isReal) FUZZ_CHECK(std::isfinite(f.realValue));
    if (f.isReal && !f.isInt)
        FUZZ_CHECK(f.realValue != std::trunc(f.realValue) ||
                   std::fabs(f.realValue) > static_cast<double>(std::numeric_limits<int32_t>::max()));
    if (!body.present()) FUZZ_CHECK(!f.isText && !f.isReal && !f.isFlag);
}

// x brought to `decimals` decimals: within half a unit of the last decimal (a little more where a
// double can't hold the digits), or endless when x can't be counted in those units.
bool roundedWell(double sent, double rounded, int decimals)
{
    if (!std::isfinite(rounded)) return !std::isfinite(sent * std::pow(10.0, decimals));
    const double unit = std::pow(10.0, -decimals);
    return std::fabs(rounded - sent) <= unit / 2 + std::fabs(sent) * 1e-12;
}

void checkOrder(const jsonBody& body)
{
    const azs_apps::orderRequest r = azs_apps::orderRequest::read(body);
    FUZZ_CHECK(r.id == body.getString("id", ""));
    FUZZ_CHECK(r.extendedId == body.getString("ExtendedId", ""));
    FUZZ_CHECK(r.contract == body.getString("contract", ""));
    FUZZ_CHECK(r.app_id == body.getInt("app_id", -1));
    FUZZ_CHECK(r.trk == body.getInt("trk", -1));
    FUZZ_CHECK(r.prod == body.getInt("prod", -1));
    FUZZ_CHECK(roundedWell(body.getDouble("price", 0.0), r.price, 2));
    FUZZ_CHECK(roundedWell(body.getDouble("volume", 0.0), r.volume, 3));
    FUZZ_CHECK(roundedWell(body.getDouble("summa", 0.0), r.summa, 2));
    FUZZ_CHECK(r.postPay == (body.getBool("PostPay", false) || !r.extendedId.empty()));
}

void checkFueling(const jsonBody& body)
{
    azs_apps::fuelingRun run;
    fuelingReader::readFields(body, run);
    const azs_apps::orderRequest r = azs_apps::orderRequest::read(body);
    FUZZ_CHECK(run.orderId == r.id && run.extendedId == r.extendedId && run.contract == r.contract);
    FUZZ_CHECK(run.appId == r.app_id && run.trk == r.trk && run.prod == r.prod);
    const auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    FUZZ_CHECK(same(run.price, r.price) && same(run.volume, r.volume) && same(run.summa, r.summa));
    try {
        fuelingReader::checkFields(run);
    } catch (const azs_apps::ExceptionHTTP& e) {
        FUZZ_CHECK(e.response_code() == 400 || e.response_code() == 402);
        return;
    }
    FUZZ_CHECK(!run.orderId.empty() && run.appId >= 1 && run.prod >= 1);
    FUZZ_CHECK(run.trk >= 1 && run.trk <= pcudata::TRK_COUNT);
    FUZZ_CHECK(azs_apps::amountGiven(run.price) && azs_apps::amountGiven(run.volume) &&
               azs_apps::amountGiven(run.summa));
}

}  // namespace

FUZZ_TARGET(requestJson)
{
    fuzzing::quietLogs();
    const std::string raw(input);
    jsonBody body;
    const int rc = body.parse(raw);
    FUZZ_CHECK(rc == 0 || rc == jsonBody::EMPTY_BODY || rc == jsonBody::NOT_JSON);
    FUZZ_CHECK((rc == jsonBody::EMPTY_BODY) == raw.empty());
    if (rc != 0) FUZZ_CHECK(!body.present());
    for (const char* name : FIELDS) checkField(body, name);
    checkOrder(body);
    checkFueling(body);

    // The debug log writes the body back as JSON: that text reads as the same body.
    if (!body.present()) return;
    jsonBody again;
    FUZZ_CHECK(again.parse(body.text()) == 0);
    FUZZ_CHECK(again.text() == body.text());
    for (const char* name : FIELDS) {
        const typedField a = typesOf(body, name), b = typesOf(again, name);
        FUZZ_CHECK(a.isText == b.isText && a.isInt == b.isInt && a.isReal == b.isReal &&
                   a.isFlag == b.isFlag);
        if (a.isText) FUZZ_CHECK(body.getString(name, "") == again.getString(name, ""));
    }
}
