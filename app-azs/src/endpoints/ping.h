#pragma once
// /ping: the state of one pump as the shared pump table shows it, for the ordering platform; also
// the remote command that closes a pump to remote orders or opens it again.
#include <Poco/JSON/Object.h>
#include <Poco/Logger.h>

#include <string>

#include "master.h"
#include "trkState.h"

namespace azs_apps {

class ping : public master {
public:
    explicit ping(const endpointContext& ctx);

    void get_ping(httpContext& ctx);
    std::string ping_url() const;
    static std::string getTrkStatusMsg(int code);

private:
    struct request {
        std::string apikey;
        std::string columnId;
        std::string orderId;  // read but not used here
        std::string lockCmd;  // "setLock", "resetLock" or empty
    };

    Poco::Logger& log;

    request readRequest(httpContext& ctx);
    void checkKeys(const std::string& apikey);
    int pumpNumber(const std::string& columnId);
    pcudata::trkState_t* pumpRecord(int trk);
    int readStatus(const pcudata::trkState_t* rec);
    void applyLockCommand(pcudata::trkState_t* rec, const request& req);
    int fillAnswer(Poco::JSON::Object& ans, const pcudata::trkState_t* rec, int status);
};

}  // namespace azs_apps
