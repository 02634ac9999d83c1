#pragma once
// Pump state lines of the controller's monitoring port, for example "T3;S7;I15;A12340,5678;N2{X}":
// groups separated by ';', each a key letter followed by a body of ','-separated values; the N and
// W bodies read number{text}. A value that is empty or does not convert leaves its field as it was,
// so a line only ever overwrites what it really carries.
#include <cstdint>
#include <string>
#include <vector>

#include "trkState.h"

namespace pcudata {

// Stateless parse of one pump line into record: no merge with an earlier state, no cache, no lock.
// Every group is applied by its letter, T groups included. 0, or -1 for an empty line or one that
// does not start with 'T'.
int32_t parse_to_trkstate(const std::string& line, trkState_t& record);

// Value appliers shared by parse_to_trkstate and the daemon's incremental parser. Values beyond the
// ones a group defines are ignored.
namespace trkline {

bool toInt32(const std::string& text, int32_t& out);
bool toInt64(const std::string& text, int64_t& out);
// Copies at most TRK_TEXT_SIZE - 1 bytes and terminates the field.
void setText(char (&field)[TRK_TEXT_SIZE], const std::string& text);

// T: trk, trkParam1..3.
void applyT(const std::vector<std::string>& values, trkState_t& s);
// S: status (the previous one moves to prevStatus), statusAux, needPayFlag, payWplace, lockWplace,
// lockType.
void applyS(const std::vector<std::string>& values, trkState_t& s);
// P: presetVolume and presetParam1..3 (converted as 64-bit numbers when wide, otherwise as 32-bit
// ones), presetFlags, presetParam5.
void applyP(const std::vector<std::string>& values, trkState_t& s, bool wide);
// I: trannum.
void applyI(const std::vector<std::string>& values, trkState_t& s);
// A: volume, amount.
void applyA(const std::vector<std::string>& values, trkState_t& s);

}  // namespace trkline
}  // namespace pcudata
