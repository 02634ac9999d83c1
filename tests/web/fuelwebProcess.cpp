#include "fuelwebProcess.h"

#include <fstream>
#include <sstream>

namespace webtest {

FuelwebProcess::FuelwebProcess(const sim::stationConfig& station) : pcu(station) {}

void FuelwebProcess::SetUp()
{
    ASSERT_EQ(pcu.start(), 0);
    ASSERT_EQ(platform.start(), 0);
    port = freePort();
    fw =
        std::make_unique<fuelwebChild>(configFile(), dir.path() + "/fuelweb.log", dir.path() + "/stderr.txt");
    follower = std::make_unique<pumpFollower>(dir.keyFile(), pcu);
    ASSERT_TRUE(stationRig::waitFor([&] { return seg.pump(1).status == 3 && seg.pump(2).status == 3; }));
}

void FuelwebProcess::TearDown()
{
    fw.reset();
    follower.reset();
    platform.stop();
    pcu.stop();
}

void FuelwebProcess::writeConfig(const std::string& statePath, const std::string& more)
{
    std::ofstream(configFile()) << "{\"service\":{\"ip\":\"127.0.0.1\",\"port\":" << port
                                << ",\"worker_threads\":8},\"logging\":{\"level\":\"info\",\"file\":\""
                                << dir.path() << "/fuelweb.log\"},\"fuelweb\":{\"tmp_path\":\"" << dir.path()
                                << "\",\"ctl_port\":" << pcu.ctlPort() << ",\"upstream_key\":\"srv\","
                                << "\"ctl_key\":\"azs\",\"upstream_endpoint\":\"" << platform.baseUrl()
                                << "\",\"state_path\":\"" << statePath << "\""
                                << (more.find("\"operator\"") == std::string::npos
                                        ? ",\"operator\":{\"port\":0}"
                                        : "")
                                << more << "}}";
}

void FuelwebProcess::startService()
{
    ASSERT_TRUE(fw->start());
    ASSERT_TRUE(fw->waitListening(port)) << fw->errors();
}

httpReply FuelwebProcess::order(const std::string& body)
{
    return httpPost(port, std::string("/api/fuelweb/order?apikey=") + APIKEY, "application/json", body);
}

httpReply FuelwebProcess::fueling(const std::string& body)
{
    return httpPost(port, std::string("/api/fuelweb/fueling?apikey=") + APIKEY, "application/json", body);
}

montest::processResult FuelwebProcess::ctl(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {montest::binDir() + "/app-azs/src/fuelwebctl", "--state", stateFile()};
    argv.insert(argv.end(), args.begin(), args.end());
    return montest::runProcess(argv);
}

std::vector<std::string> FuelwebProcess::errorLines() const
{
    std::vector<std::string> out;
    std::istringstream in(fw->log());
    for (std::string line; std::getline(in, line);)
        if (line.find(" Error ") != std::string::npos) out.push_back(line);
    return out;
}

}  // namespace webtest
