#pragma once
// The station description read from the controller's configuration (ACFG) and price (APRS)
// blocks: products, payment kinds, tanks and pumps with their hoses.
//
// Fields that a data line does not carry keep fixed starting values: 0 for the numbers of a new
// record, and for a hose tank 0 and product -1 (no product). A hose never inherits the values of
// the hose before it.
#include <cstdint>
#include <string>
#include <vector>

namespace pcudata {

struct acfg_prod_data {
    int num = 0;
    std::string name;
    int cod = 0;
    int typ = 0;
    int64_t price = 0;  // hundredths of the currency unit
    int tax = 0;
    int color = 0;
};

struct acfg_paym_data {
    int num = 0;
    std::string name;
    int cod = 0;
    int typ = 0;
    int set = 0;
    int color = 0;
    int flg = 0;
    int pos = 0;
};

struct acfg_tank_data {
    int num = 0;
    int cod = 0;
    int64_t vol = 0;
};

struct acfg_hose_data {
    int num = 0;
    int tank = 0;
    int prod = -1;  // position in acfg_data::products, counting from 0; -1 none
};

struct acfg_pump_data {
    int num = 0;
    int typ = 0;
    int minaus = 0;
    std::vector<acfg_hose_data> hoses;
};

struct acfg_data {
    std::vector<acfg_prod_data> products;
    std::vector<acfg_paym_data> payments;
    std::vector<acfg_tank_data> tanks;
    std::vector<acfg_pump_data> pumps;
};

// Parse one data line of a section and append one record: 0 when appended, -1 when the line is
// empty or does not begin with "NUM".
int _read_prods_rec(const std::string& line, std::vector<acfg_prod_data>& list);
int _read_payms_rec(const std::string& line, std::vector<acfg_paym_data>& list);
int _read_tanks_rec(const std::string& line, std::vector<acfg_tank_data>& list);
int _read_pumps_rec(const std::string& line, std::vector<acfg_pump_data>& list);

// Split one KEY=VALUE field. An empty field changes nothing; a value that does not convert leaves
// value as it was.
void _read_par_vals_int(const std::string& field, std::string& key, int& value);
void _read_par_vals_long(const std::string& field, std::string& key, int64_t& value);
void _read_par_vals_str(const std::string& field, std::string& key, std::string& value);

void release_products_list(std::vector<acfg_prod_data>& list);
void release_payments_list(std::vector<acfg_paym_data>& list);
void release_tanks_list(std::vector<acfg_tank_data>& list);
void release_hoses_list(std::vector<acfg_hose_data>& list);
void release_pumps_list(std::vector<acfg_pump_data>& list);
void release_acfg_data(acfg_data& cfg);

}  // namespace pcudata
