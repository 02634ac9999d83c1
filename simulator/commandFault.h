#pragma once
// A planned misbehaviour of the control port for one future command, and the queue that holds
// them. Each fault is used once: by the first later command whose name matches (an empty name
// matches any command); faults for the same command are used in the order they were queued.
#include <deque>
#include <string>

namespace sim {

struct commandFault {
    std::string cmd;           // command name it applies to; empty = the next command of any name
    int res = 1;               // other than 1: refuse with this RES, the command is not carried out
    std::string tcod;          // replaces the reply's TCOD when not empty
    std::string txt;           // replaces the reply's TXT when not empty
    int intermediate = 0;      // this many RES 2/3 lines go out before the final reply
    int intermediateRes = 2;   // 2 or 3
    int delayMs = 0;           // wait before the final reply (the command itself is carried out at once)
    bool drop = false;         // carry the command out but send no reply
    bool closeBefore = false;  // close the connection instead of handling the command
    bool closeAfter = false;   // close the connection right after the reply
    bool hasRaw = false;       // send `raw` instead of the reply (the command is still carried out)
    std::string raw;           // may hold several lines; a final line feed is added when missing
};

class faultQueue {
public:
    void add(const commandFault& f) { faults.push_back(f); }
    void clear() { faults.clear(); }
    size_t size() const { return faults.size(); }
    // Removes and returns the first fault for `cmd`; false when there is none.
    bool take(const std::string& cmd, commandFault& out);

private:
    std::deque<commandFault> faults;
};

}  // namespace sim
