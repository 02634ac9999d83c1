#pragma once
// Pump state lines of the controller's monitoring port, for example "T3;S7;I15;A12340,5678;N2{X}":
// groups separated by ';', each a key letter followed by a body of ','-separated values; the N and
// W bodies read number{text}. A value that is empty or does not convert leaves its field as it was,
// so a line only ever overwrites what it really carries.
//
// The daemon parses every line the controller sends, so the helpers work on views into the line
// and allocate nothing.
#include <cstdint>
#include <string>
#include <string_view>

#include "trkState.h"

namespace pcudata {

// Stateless parse of one pump line into record: no merge with an earlier state, no cache, no lock.
// Every group is applied by its letter, T groups included. 0, or -1 for an empty line or one that
// does not start with 'T'.
int32_t parse_to_trkstate(const std::string& line, trkState_t& record);

// Value appliers shared by parse_to_trkstate and the daemon's incremental parser.
namespace trkline {

// No group of any monitoring line defines more values than this; further ones are ignored.
constexpr size_t MAX_VALUES = 8;

struct values {
    std::string_view at[MAX_VALUES];
    size_t count = 0;
};

// Fields of text between separators sep: an empty text gives none, a trailing separator adds no
// empty last field, empty inner fields are kept. Only the first MAX_VALUES are kept.
void splitValues(std::string_view text, char sep, values& out);
// Next group of a line at or after pos (groups are separated by ';'); false when none is left.
bool nextGroup(std::string_view line, size_t& pos, std::string_view& group);

// Integer conversion with the rules of str::_stoi and str::_stol; false for an empty text or one
// that does not convert.
bool toInt32(std::string_view text, int32_t& out);
bool toInt64(std::string_view text, int64_t& out);
// Copies at most TRK_TEXT_SIZE - 1 bytes and terminates the field.
void setText(char (&field)[TRK_TEXT_SIZE], std::string_view text);

// Applies the values of one T, S, P, I or A group body to s, as the line grammar maps them; other
// letters change nothing. S value 0 moves the status held so far to prevStatus. P values 0 to 3
// are converted as 64-bit numbers when wideP, otherwise as 32-bit ones.
void applyGroupValues(char letter, std::string_view body, trkState_t& s, bool wideP);

}  // namespace trkline
}  // namespace pcudata
