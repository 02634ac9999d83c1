#pragma once
// Where the library's own messages go.
//
// Code in common/ reports failures through return codes and error numbers, and some of them also
// deserve a line in the log: a segment that can not be attached, a socket option that the kernel
// refused. The library knows nothing of the programs' loggers, so it hands such lines to a hook
// that each program points at its own log once at start-up (fuelweb at its service log, the daemon
// at its .err file). Until a program does so, the lines go through runner::log: errors and warnings
// to standard error, the rest to standard output.
#include <string>

namespace pcudata {
namespace libLog {

// Same numbers as the usual syslog-style priorities, so a program can map them one to one.
enum level : int { error = 3, warning = 4, notice = 5, info = 6, debug = 7 };

using sink = void (*)(level lvl, const std::string& text);

// Points the library's lines at s; null restores the default. Safe from any thread.
void setSink(sink s);
// Hands one line to the current sink. An empty text is dropped.
void write(level lvl, const std::string& text);

}  // namespace libLog

// "ENOENT (No such file or directory)": the symbolic name of an error number and its system text,
// the form in which every error number reaches a log.
std::string errnoText(int e);

}  // namespace pcudata
