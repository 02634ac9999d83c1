// The operator's listener of the real fuelweb program: it listens for each cycle, answers /ready
// once the cycle listens for the platform, and the next cycle after a SIGHUP takes its port again.
#include <gtest/gtest.h>
#include <signal.h>

#include "fuelwebProcess.h"

namespace {

using webtest::httpGet;

class OperatorProcess : public webtest::FuelwebProcess {
protected:
    uint16_t operatorPort = 0;

    void startWithOperator()
    {
        operatorPort = webtest::freePort();
        writeConfig(stateFile(), ",\"operator\":{\"port\":" + std::to_string(operatorPort) + "}");
        startService();
    }
    bool readyAnswers()
    {
        return webtest::stationRig::waitFor([&] { return httpGet(operatorPort, "/ready").status == 200; },
                                            10000);
    }
};

TEST_F(OperatorProcess, ReadyOnceListeningAndAgainAfterARestart)
{
    startWithOperator();
    ASSERT_TRUE(readyAnswers());
    EXPECT_TRUE(fw->waitForLog("Страница оператора: http://127.0.0.1:" + std::to_string(operatorPort) + "/"));
    EXPECT_EQ(httpGet(operatorPort, "/health").body, R"({"status":"ok"})");
    EXPECT_NE(httpGet(operatorPort, "/status.json").body.find("\"number\":1,"), std::string::npos);

    fw->signal(SIGHUP);
    ASSERT_TRUE(fw->waitForLog("Рестарт приложения"));
    ASSERT_TRUE(
        fw->waitForLog("Страница оператора: http://127.0.0.1:" + std::to_string(operatorPort) + "/", 2));
    EXPECT_TRUE(readyAnswers());
    EXPECT_TRUE(errorLines().empty()) << errorLines().front();
}

TEST_F(OperatorProcess, PortZeroLeavesTheOperatorListenerOff)
{
    writeConfig(stateFile());  // the test configurations say "operator": {"port": 0}
    startService();
    ASSERT_EQ(httpGet(port, "/api/fuelweb/ping?apikey=" + std::string(APIKEY) + "&columnId=1").status, 200);
    EXPECT_FALSE(fw->waitForLog("Страница оператора", 1, 300));
}

}  // namespace
