#pragma once
// Field splitting for the controller's line protocol and the callers' key lists.
#include <cstdint>
#include <string>
#include <vector>

namespace pcudata {

// Fields between separators ch, read as lines ending in ch: an empty text gives no field, a
// trailing separator adds no empty last field, empty leading and inner fields are kept.
std::vector<std::string> split(const std::string& text, char ch);
// Fields between occurrences of the whole delim, left to right: a trailing delimiter adds an empty
// last field. An empty delim gives the whole text as one field (an empty text still gives none).
std::vector<std::string> split(const std::string& text, const std::string& delim);

// The same into the caller's vector, which is emptied first. -1 when out is null, else 0.
int32_t split2v(const std::string& text, char ch, std::vector<std::string>* out);
int32_t split2v(const std::string& text, const std::string& delim, std::vector<std::string>* out);

}  // namespace pcudata
