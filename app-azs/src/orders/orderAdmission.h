#pragma once
// Whether a pump can take an order, judged from its record in the pump table. The record is read
// without its lock (the monitor daemon may be writing it), one field at a time.
//
// The pump must be the one asked for, open to orders from the application and idle. A pump that
// waits for payment of a finished delivery takes only an order that names that delivery exactly
// (transaction, product, volume within the station's tolerance) while no till is settling it: the
// order then pays for it (post-payment).
#include <Poco/Logger.h>

#include <cstdint>
#include <string>

#include "orderRequest.h"
#include "pcuControl.h"
#include "trkState.h"

namespace azs_apps {

class orderAdmission {
public:
    struct limits {
        bool postpayAllowed = false;
        double overfill = 0.0;    // litres a delivery may exceed the ordered volume by
        double underfill = -1.0;  // litres it may fall short by; negative: no lower bound
    };

    static constexpr const char* NOTHING_DELIVERED =
        "ТРК завершила работу. Отпуск отсутствует.(обратитесь к оператору для освобождения ТРК)";

    // table: the reader of the pump table, which takes every pump for unreachable while the table
    // is stale.
    orderAdmission(Poco::Logger& log, const limits& lim, pcudata::pcuControl& table)
        : log(log), lim(lim), table(table)
    {
    }

    // Raises ExceptionHTTP with the refusal. True when the order pays the pump's finished delivery,
    // false when the pump is idle and can be reserved for it.
    bool admit(const pcudata::trkState_t* rec, const orderRequest& req) const;

    // The refusal of a pump status; empty for the idle statuses 2 and 3 and for 11, which waits
    // for payment.
    static std::string busyText(int32_t status);

private:
    Poco::Logger& log;
    limits lim;
    pcudata::pcuControl& table;

    void settlementTests(const pcudata::trkState_t* rec, const orderRequest& req) const;
    void volumeTest(const pcudata::trkState_t* rec, const orderRequest& req) const;
};

}  // namespace azs_apps
