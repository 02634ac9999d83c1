#include "acfgData.h"

#include "split.h"
#include "str.h"

namespace pcudata {

namespace {

bool startsWithNum(const std::string& line)
{
    return line.compare(0, 3, "NUM") == 0;
}

// Every field of a product, payment or tank line: groups separated by ";", fields by ":".
std::vector<std::string> lineFields(const std::string& line)
{
    std::vector<std::string> fields;
    for (const std::string& group : split(line, ';')) {
        for (std::string& field : split(group, ':')) fields.push_back(std::move(field));
    }
    return fields;
}

// A value that does not convert leaves the field as it was.
void setInt(const std::string& text, int& field)
{
    int32_t v = 0;
    if (str::_stoi(text, v) == 0) field = v;
}

void setLong(const std::string& text, int64_t& field)
{
    int64_t v = 0;
    if (str::_stol(text, v) == 0) field = v;
}

void readProdField(const std::string& key, const std::string& value, acfg_prod_data& rec)
{
    if (key == "NUM")
        setInt(value, rec.num);
    else if (key == "NAME")
        rec.name = value;
    else if (key == "COD")
        setInt(value, rec.cod);
    else if (key == "TYP")
        setInt(value, rec.typ);
    else if (key == "COLOR")
        setInt(value, rec.color);
    else if (key == "TAX")
        setInt(value, rec.tax);
    else if (key == "PRICE")
        setLong(value, rec.price);
}

void readPaymField(const std::string& key, const std::string& value, acfg_paym_data& rec)
{
    if (key == "NUM")
        setInt(value, rec.num);
    else if (key == "NAME")
        rec.name = value;
    else if (key == "COD")
        setInt(value, rec.cod);
    else if (key == "TYP")
        setInt(value, rec.typ);
    else if (key == "SET")
        setInt(value, rec.set);
    else if (key == "COLOR")
        setInt(value, rec.color);
    else if (key == "FLG")
        setInt(value, rec.flg);
    else if (key == "POS")
        setInt(value, rec.pos);
}

// Segment 0 of a pump line: the pump's own fields. A value that does not convert stores -1.
void readPumpFields(const std::string& segment, acfg_pump_data& pump)
{
    for (const std::string& field : split(segment, ':')) {
        std::string key;
        int value = -1;
        _read_par_vals_int(field, key, value);
        if (key == "NUM")
            pump.num = value;
        else if (key == "TYP")
            pump.typ = value;
        else if (key == "MINAUS")
            pump.minaus = value;
    }
}

// A hose segment: the bare hose number (its "S=" was taken by the division), then TANK= and PROD=.
// Each hose starts from the record defaults, never from the hose before it.
void readHose(const std::string& segment, acfg_pump_data& pump)
{
    const std::vector<std::string> fields = split(segment, ':');
    if (fields.empty()) return;
    acfg_hose_data hose;
    setInt(fields[0], hose.num);
    for (size_t i = 1; i < fields.size(); ++i) {
        std::string key;
        int value = -1;
        _read_par_vals_int(fields[i], key, value);
        if (key == "TANK")
            hose.tank = value;
        else if (key == "PROD")
            hose.prod = value;
    }
    pump.hoses.push_back(hose);
}

// Product and payment lines: every KEY=VALUE field of every group fills one record, appended once.
template <class Rec>
int appendKeyedRecord(const std::string& line, std::vector<Rec>& list,
                      void (*apply)(const std::string&, const std::string&, Rec&))
{
    if (!startsWithNum(line)) return -1;
    Rec rec;
    for (const std::string& field : lineFields(line)) {
        std::string key, value;
        _read_par_vals_str(field, key, value);
        apply(key, value, rec);
    }
    list.push_back(rec);
    return 0;
}

}  // namespace

void _read_par_vals_str(const std::string& field, std::string& key, std::string& value)
{
    if (field.empty()) return;
    const std::vector<std::string> parts = split(field, '=');
    if (!parts.empty()) key = parts[0];
    if (parts.size() > 1) value = parts[1];
}

void _read_par_vals_int(const std::string& field, std::string& key, int& value)
{
    if (field.empty()) return;
    const std::vector<std::string> parts = split(field, '=');
    if (!parts.empty()) key = parts[0];
    if (parts.size() > 1) setInt(parts[1], value);
}

void _read_par_vals_long(const std::string& field, std::string& key, int64_t& value)
{
    if (field.empty()) return;
    const std::vector<std::string> parts = split(field, '=');
    if (!parts.empty()) key = parts[0];
    if (parts.size() > 1) setLong(parts[1], value);
}

int _read_prods_rec(const std::string& line, std::vector<acfg_prod_data>& list)
{
    return appendKeyedRecord(line, list, readProdField);
}

int _read_payms_rec(const std::string& line, std::vector<acfg_paym_data>& list)
{
    return appendKeyedRecord(line, list, readPaymField);
}

int _read_tanks_rec(const std::string& line, std::vector<acfg_tank_data>& list)
{
    if (!startsWithNum(line)) return -1;
    acfg_tank_data rec;
    for (const std::string& field : lineFields(line)) {
        std::string key;
        int64_t value = -1;  // a key whose value does not convert stores -1
        _read_par_vals_long(field, key, value);
        if (key == "NUM")
            rec.num = static_cast<int>(value);
        else if (key == "COD")
            rec.cod = static_cast<int>(value);
        else if (key == "VOL")
            rec.vol = value;
    }
    list.push_back(rec);
    return 0;
}

int _read_pumps_rec(const std::string& line, std::vector<acfg_pump_data>& list)
{
    if (!startsWithNum(line)) return -1;
    acfg_pump_data pump;
    const std::string body = line.substr(0, line.find(';'));
    const std::vector<std::string> segments = split(body, std::string(":S="));
    for (size_t i = 0; i < segments.size(); ++i) {
        if (i == 0)
            readPumpFields(segments[i], pump);
        else
            readHose(segments[i], pump);
    }
    list.push_back(std::move(pump));
    return 0;
}

void release_products_list(std::vector<acfg_prod_data>& list)
{
    list.clear();
}

void release_payments_list(std::vector<acfg_paym_data>& list)
{
    list.clear();
}

void release_tanks_list(std::vector<acfg_tank_data>& list)
{
    list.clear();
}

void release_hoses_list(std::vector<acfg_hose_data>& list)
{
    list.clear();
}

void release_pumps_list(std::vector<acfg_pump_data>& list)
{
    for (acfg_pump_data& pump : list) release_hoses_list(pump.hoses);
    list.clear();
}

void release_acfg_data(acfg_data& cfg)
{
    release_products_list(cfg.products);
    release_payments_list(cfg.payments);
    release_tanks_list(cfg.tanks);
    release_pumps_list(cfg.pumps);
}

}  // namespace pcudata
