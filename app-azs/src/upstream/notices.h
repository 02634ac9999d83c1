#pragma once
// The notices to the ordering platform about an order: cancelled (with the reason), completed
// (with the delivered litres), the volume delivered so far, and a text for the driver. The two
// final notices have retrying forms that repeat them until the platform answers 200.
//
// Bodies are form-encoded ("apikey=...&orderId=..."). Every value is sent as it is except the
// bytes that carry meaning in a form body ("&", "=", "+", "%" and control bytes), which are
// percent-encoded, so that a reason or message holding them reaches the platform whole and cannot
// add fields of its own.
#include <Poco/Logger.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "upstreamTransfer.h"

namespace azs_apps {
namespace upstream {

// The value with each byte for which special() holds written as "%XX"; every other byte is kept.
std::string percentEncoded(const std::string& value, bool (*special)(unsigned char));

// Percent-encodes "&", "=", "+", "%" and the bytes below 0x20 and 0x7F; every other byte,
// UTF-8 included, is kept.
std::string formValue(const std::string& value);

class storedNotice;

class notices {
public:
    // The retrying forms log their attempts under the caller's logger ("fuelweb/fueling", ...).
    notices(settings target, const std::string& callerLogger);

    // One attempt each; the HTTP status of the platform's answer, or 503 (no endpoint
    // configured), 500 (libcurl unusable) or 502 (no answer).
    int64_t _cancel_order(const std::string& apikey, const std::string& orderId, const std::string& reason);
    int64_t _complete_order(const std::string& apikey, const std::string& orderId,
                            const std::string& extOrderId, const std::string& extDate, double volume);
    int64_t _volume_order(const std::string& apikey, const std::string& orderId, double volume);
    int64_t _notify_client(const std::string& apikey, const std::string& orderId, const std::string& message);

    // Repeat the notice until the platform answers 200: series of 11 attempts 1 s apart, 60 s
    // between series, given up after the first failed attempt of series 21 (221 attempts). True
    // when it was delivered. With a state file the notice is stored before its first attempt and
    // is not lost when the wrapper gives up (or the process ends): the background sender
    // (outboxSender) goes on with it. A stored notice is handed to it at once when the process is
    // stopping (serviceStop), after the attempt under way.
    bool _send_long_cancel(const std::string& apikey, const std::string& orderId, const std::string& reason);
    bool _send_long_complete(const std::string& apikey, const std::string& orderId,
                             const std::string& extOrderId, const std::string& extDate, double volume);
    // The same for a notice stored beforehand (a caller that must keep the notice before it lets
    // go of the order).
    bool sendLong(storedNotice& stored);

    // Local time t (0: now) as "dd.mm.yyyy hh:mm:ss".
    static std::string _makeExtDate(const int64_t& t);

    static constexpr int SERIES_LIMIT = 20;
    static constexpr int ATTEMPTS_PER_SERIES = 11;

private:
    settings target;
    Poco::Logger& callerLog;

    struct notice;
    int64_t send(const notice& n, const std::string& orderId, const std::string& body);
    template <class Attempt>
    bool repeat(const std::string& what, storedNotice& stored, const std::string& heading, Attempt attempt);
    static bool handedOverAtStop(storedNotice& stored);
};

}  // namespace upstream
}  // namespace azs_apps
