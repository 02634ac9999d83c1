#include "configCheck.h"

#include <ostream>

#include "configKeys.h"

namespace pcudata {

namespace {

checkLine unknownLine(const std::string& key)
{
    const std::string near = nearestConfigKey(key);
    if (near.empty())
        return {false, key, "неизвестный ключ \"" + key + "\": его не читает ни одна программа"};
    return {true, key, "неизвестный ключ \"" + key + "\": возможно, \"" + near + "\""};
}

checkLine valueLine(const configFile& cfg, const configKey& k, configFile::fit f)
{
    const std::string what =
        f == configFile::wrongType ? "значение не того типа" : "значение вне допустимого";
    return {true, k.name,
            "ключ \"" + std::string(k.name) + "\" = " + cfg.valueText(k.name) + ": " + what + ", ожидается " +
                acceptedText(k)};
}

}  // namespace

std::vector<checkLine> checkConfig(const configFile& cfg, unsigned reader)
{
    std::vector<checkLine> lines;
    for (const std::string& key : cfg.leafKeys())
        if (findConfigKey(key) == nullptr) lines.push_back(unknownLine(key));
    for (const configKey& k : configKeys()) {
        if ((k.readers & reader) == 0 || !cfg.has(k.name)) continue;
        const configFile::fit f = cfg.fitOf(k);
        if (f != configFile::fits) lines.push_back(valueLine(cfg, k, f));
    }
    return lines;
}

std::vector<std::string> unknownKeyWarnings(const configFile& cfg)
{
    std::vector<std::string> out;
    for (const std::string& key : cfg.leafKeys()) {
        if (findConfigKey(key) != nullptr) continue;
        const std::string near = nearestConfigKey(key);
        out.push_back("Неизвестный ключ конфигурации \"" + key + "\" не используется" +
                      (near.empty() ? std::string() : " (возможно, \"" + near + "\")"));
    }
    return out;
}

int printCheck(const std::vector<checkLine>& lines, const std::string& path, std::ostream& out)
{
    int errors = 0, warnings = 0;
    for (const checkLine& l : lines) {
        out << (l.error ? "ошибка: " : "предупреждение: ") << l.text << "\n";
        ++(l.error ? errors : warnings);
    }
    out << path << ": ошибок " << errors << ", предупреждений " << warnings << "\n";
    return errors > 0 ? 1 : 0;
}

}  // namespace pcudata
