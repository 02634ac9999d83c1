#include "stationDocs.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>

#include <sstream>

#include "str.h"

namespace azs_apps {
namespace stationDocs {

namespace {

void setStamp(Poco::JSON::Object& o, const stamp& s)
{
    o.set("Id", s.stationKey);
    o.set("Date", s.date);
}

// The writer copies the bytes of a text as they are; a name the controller sent in another
// encoding would make the whole document unreadable to the platform.
template <class Json>
std::string compact(const Json& doc)
{
    std::ostringstream out;
    doc.stringify(out);
    return pcudata::str::validUtf8(out.str());
}

const pcudata::acfg_prod_data* productAt(const pcudata::acfg_data& cfg, int position)
{
    if (position < 0 || static_cast<size_t>(position) >= cfg.products.size()) return nullptr;
    return &cfg.products[static_cast<size_t>(position)];
}

Poco::JSON::Object::Ptr hoseObject(const pcudata::acfg_data& cfg, const pcudata::acfg_hose_data& h,
                                   hoseNumber hand)
{
    Poco::JSON::Object::Ptr o = new Poco::JSON::Object;
    if (const pcudata::acfg_prod_data* p = productAt(cfg, h.prod)) {
        o->set("Product", p->cod);
        if (!p->name.empty()) o->set("ProdName", p->name);
    }
    o->set("Tank", h.tank);
    if (hand == withHand) o->set("Hand", h.num);
    return o;
}

}  // namespace

int readBlock(pcudata::pcuControl& session, document doc, pcudata::acfg_data& cfg, int& err)
{
    return doc == document::prices ? session.getAzsPrs(cfg, err) : session.getAzsCfg(cfg, err);
}

double roubles(int64_t hundredths)
{
    return static_cast<double>(hundredths) / 100.0;
}

std::string prices(const pcudata::acfg_data& cfg, const stamp& s)
{
    Poco::JSON::Array list;
    for (const pcudata::acfg_prod_data& p : cfg.products) {
        Poco::JSON::Object::Ptr o = new Poco::JSON::Object;
        o->set("Price", roubles(p.price));
        o->set("Product", p.cod);
        if (!p.name.empty()) o->set("ProdName", p.name);
        setStamp(*o, s);
        list.add(o);
    }
    return compact(list);
}

std::string config(const pcudata::acfg_data& cfg, const stamp& s, hoseNumber hand)
{
    Poco::JSON::Object columns;
    for (const pcudata::acfg_pump_data& pump : cfg.pumps) {
        Poco::JSON::Array::Ptr fuels = new Poco::JSON::Array;
        for (const pcudata::acfg_hose_data& h : pump.hoses) fuels->add(hoseObject(cfg, h, hand));
        Poco::JSON::Object::Ptr column = new Poco::JSON::Object;
        column->set("Fuels", fuels);
        columns.set(std::to_string(pump.num), column);
    }
    Poco::JSON::Object doc;
    doc.set("Columns", columns);
    setStamp(doc, s);
    return compact(doc);
}

std::string build(document doc, const pcudata::acfg_data& cfg, const stamp& s, hoseNumber hand)
{
    return doc == document::prices ? prices(cfg, s) : config(cfg, s, hand);
}

}  // namespace stationDocs
}  // namespace azs_apps
