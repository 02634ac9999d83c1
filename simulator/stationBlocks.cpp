#include "stationBlocks.h"

namespace sim {

namespace {

std::string pumpData(const simPumpConfig& p)
{
    std::string s = "NUM=" + std::to_string(p.num) + ":TYP=" + std::to_string(p.typ) +
                    ":MINAUS=" + std::to_string(p.minaus);
    for (const simHose& h : p.hoses)
        s += ":S=" + std::to_string(h.num) + ":TANK=" + std::to_string(h.tank) +
             ":PROD=" + std::to_string(h.prod);
    return s + ";";
}

std::string tankData(const simTank& t)
{
    return "NUM=" + std::to_string(t.num) + ":COD=" + std::to_string(t.cod) +
           ":VOL=" + std::to_string(t.vol) + ";";
}

std::string productData(const simProduct& p)
{
    return "NUM=" + std::to_string(p.num) + ":NAME=" + p.name + ":COD=" + std::to_string(p.cod) +
           ":TYP=" + std::to_string(p.typ) + ":PRICE=" + std::to_string(p.price) +
           ":TAX=" + std::to_string(p.tax) + ":COLOR=" + std::to_string(p.color) + ";";
}

std::string paymentData(const simPayment& p)
{
    return "NUM=" + std::to_string(p.num) + ":NAME=" + p.name + ":COD=" + std::to_string(p.cod) +
           ":TYP=" + std::to_string(p.typ) + ":SET=" + std::to_string(p.set) +
           ":COLOR=" + std::to_string(p.color) + ":FLG=" + std::to_string(p.flg) +
           ":POS=" + std::to_string(p.pos) + ";";
}

std::string priceData(const simProduct& p)
{
    return "NUM=" + std::to_string(p.num) + ":NAME=" + p.name + ":COD=" + std::to_string(p.cod) +
           ":PRICE=" + std::to_string(p.price) + ";";
}

template <typename T, typename F>
void section(std::vector<std::string>& out, const char* header, const std::vector<T>& items, F format)
{
    out.push_back(header);
    for (const T& item : items) out.push_back(format(item));
}

}  // namespace

std::vector<std::string> configSections(const stationConfig& cfg)
{
    std::vector<std::string> out;
    section(out, "{PUMP}", cfg.pumps, pumpData);
    section(out, "{TANK}", cfg.tanks, tankData);
    section(out, "{PROD}", cfg.products, productData);
    section(out, "{PAYM}", cfg.payments, paymentData);
    out.push_back("{END}");
    return out;
}

std::vector<std::string> priceSections(const stationConfig& cfg)
{
    std::vector<std::string> out;
    section(out, "{PRICES}", cfg.products, priceData);
    out.push_back("{END}");
    return out;
}

}  // namespace sim
