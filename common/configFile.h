#pragma once
// The configuration file that both programs read: one JSON object whose top-level objects group
// the keys ("service", "logging", "fuelweb"). Keys are named by dotted paths such as
// "fuelweb.ctl_port".
//
// Both programs read their keys through this class, so that one file means the same to both:
// - a key that is absent or null takes the caller's default;
// - a key whose value does not fit takes the default as well, and becomes a warning that names
//   the key, the value found and the default taken (each key once per file read);
// - the types are strict, so that a typo shows up as a warning rather than as a surprise: a string
//   "5" is not an integer, 1 is not a boolean; an integer may be written 3 or 3.0 and must fit
//   32 bits; a port is an integer from 1 to 65535. getRanged reads an integer in the range the
//   table of known keys (configKeys) gives it.
// A UTF-8 byte-order mark in front of the document is skipped.
//
// Copies share the document and the warnings. Reads are safe from several threads at once.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pcudata {

struct configKey;

class configFile {
public:
    enum status { ok, unreadable, notJson, notObject };

    // An empty configuration: every key takes its default.
    configFile();

    // Parses text into cfg. On failure cfg is left empty and reason says why in a short phrase.
    static status parse(const std::string& text, configFile& cfg, std::string& reason);
    // Reads and parses a file. unreadable covers a missing file, a directory and a read error
    // (reason: the error number's name and text); the other results as for parse.
    static status load(const std::string& path, configFile& cfg, std::string& reason);

    // --- reads with a default (see above) ---------------------------------------------------------
    std::string getString(const std::string& key, const std::string& def) const;
    int32_t getInt(const std::string& key, int32_t def) const;
    // An integer in the range the table of known keys gives the key (any 32-bit one when the
    // table has none), so that the check of a file and the reader agree.
    int32_t getRanged(const std::string& key, int32_t def) const;
    // Any JSON number (not a boolean).
    double getDouble(const std::string& key, double def) const;
    // Only true and false.
    bool getBool(const std::string& key, bool def) const;
    // An integer from 1 to 65535.
    uint32_t getPort(const std::string& key, uint32_t def) const;

    // --- strict reads, for keys whose bad value must stop a program instead -------------------
    // True when the key is present and not null.
    bool has(const std::string& key) const;
    // True with the value when the key holds a value of that type.
    bool readString(const std::string& key, std::string& out) const;
    // An integral number (3 or 3.0) from lo to hi.
    bool readInt(const std::string& key, int64_t lo, int64_t hi, int64_t& out) const;
    // The value as it stands in the file (JSON text, shortened when long), for messages.
    std::string valueText(const std::string& key) const;

    // Warnings about keys that took their default, each handed out once, in the order found.
    std::vector<std::string> newWarnings() const;

    // --- what the file holds, for its check ------------------------------------------------------
    enum fit { fits, wrongType, outOfRange };
    // How the key's value (present, not null) fits what the table says of it.
    fit fitOf(const configKey& k) const;
    // Dotted paths of every value in the file that is not an object (null ones left out), in the
    // file's order; an object stands for itself where the table names it as a key.
    std::vector<std::string> leafKeys() const;
    // Every key asked for so far (present or not), sorted: what the readers read.
    std::vector<std::string> consultedKeys() const;

private:
    struct document;
    std::shared_ptr<document> doc;

    int32_t getIntIn(const std::string& key, int32_t def, int64_t lo, int64_t hi) const;
    template <typename T>
    T fallBack(const std::string& key, const std::string& expected, const T& def,
               const std::string& defText) const;
};

}  // namespace pcudata
