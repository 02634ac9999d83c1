#include "fuelwebOptions.h"

namespace azs_apps {

fuelwebOptions fuelwebOptions::parse(int argc, char** argv)
{
    fuelwebOptions o;
    bool checkOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            o.what = help;
            return o;
        }
        if (arg == "--version") {
            o.what = version;
            return o;
        }
        if (arg == "-t" || arg == "--check-config") {
            checkOnly = true;
        } else if ((arg == "-c" || arg == "--config") && i + 1 < argc) {
            o.config = argv[++i];
        } else if (arg.rfind("--config=", 0) == 0) {
            o.config = arg.substr(9);
        } else {
            o.problem = "неизвестный параметр '" + arg + "'";
            return o;
        }
    }
    if (!o.config.empty()) o.what = checkOnly ? check : run;
    return o;
}

std::string fuelwebUsage()
{
    return "Usage: fuelweb -c CONFIG_FILE\n"
           "       fuelweb --check-config -c CONFIG_FILE\n"
           "       fuelweb --version | --help\n"
           "  -c, --config FILE     файл конфигурации\n"
           "  -t, --check-config    проверить файл конфигурации и выйти: каждый неизвестный ключ,\n"
           "                        значение не того типа или вне допустимого одной строкой;\n"
           "                        код 1, когда есть ошибки, иначе 0\n"
           "      --version         версия и коммит сборки\n"
           "  -h, --help            эта справка\n";
}

}  // namespace azs_apps
