#pragma once
// Times one command exchange on the control port for the station's metrics: from the moment the
// command goes out to its final reply. The command is named by its word on the wire ("PWORK",
// "PSET", ...), so the label set is the controller protocol's few commands.
#include <chrono>
#include <string>

namespace pcudata {

class commandTimer {
public:
    // line: the command as sent, "@!NAME;..." or "@!NAME\n".
    explicit commandTimer(const std::string& line);
    // result: what the exchange returned; below 0 when no usable reply came.
    void done(int result);

    // The command's word of a line; empty when the line is no command.
    static std::string nameOf(const std::string& line);

private:
    int slot;
    std::chrono::steady_clock::time_point start;
};

}  // namespace pcudata
