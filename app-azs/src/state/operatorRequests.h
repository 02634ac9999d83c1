#pragma once
// What the operator's command asks the running service to do on a pump (give back a hold of our
// workplace that no order needs), and the service's answer, through the state file: the command
// writes a request, the service's keeper of the holds carries it out within a second or two and
// writes the outcome, which the command waits for. A request nobody answers tells the operator
// that fuelweb does not run.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "stateDb.h"

namespace azs_apps {
namespace state {

struct operatorRequest {
    int64_t id = 0;
    std::string kind;  // operatorRequests::RELEASE
    int pump = 0;
    std::string state;  // ASKED, DONE, REFUSED
    std::string result;
    time_t askedAt = 0;
};

namespace operatorRequests {

inline constexpr char RELEASE[] = "release";
inline constexpr char ASKED[] = "asked";
inline constexpr char DONE[] = "done";
inline constexpr char REFUSED[] = "refused";

// The request's id; 0 when it could not be written.
int64_t ask(stateDb& db, const char* kind, int pump, time_t now);
// The requests not answered yet, oldest first.
std::vector<operatorRequest> asked(stateDb& db);
bool answer(stateDb& db, int64_t id, const char* outcome, const std::string& result, time_t now);
// The request as it stands; false when there is none of that id.
bool find(stateDb& db, int64_t id, operatorRequest& out);
// A request that is not answered is withdrawn (the operator gave up waiting), so that a service
// started later does not carry it out unasked.
bool withdraw(stateDb& db, int64_t id, time_t now);

}  // namespace operatorRequests
}  // namespace state
}  // namespace azs_apps
