#include "operatorListener.h"

#include "operatorApp.h"

namespace azs_apps {

namespace {

serviceSettings listenerSettings(const settings& cfg, uint16_t port)
{
    serviceSettings s = cfg.service;
    s.ip = cfg.operatorListener.ip;
    s.port = port;
    s.workers = operatorListener::WORKERS;
    s.maxConnections = operatorListener::MAX_CONNECTIONS;
    return s;
}

}  // namespace

std::unique_ptr<operatorListener> operatorListener::forCycle(std::shared_ptr<const settings> cfg)
{
    if (!cfg->operatorListener.enabled()) return nullptr;
    const auto port = static_cast<uint16_t>(cfg->operatorListener.port);
    return std::make_unique<operatorListener>(std::move(cfg), port);
}

operatorListener::operatorListener(std::shared_ptr<const settings> config, uint16_t port)
    : cfg(std::move(config)),
      log(Poco::Logger::get("fuelweb/operator")),
      probe(cfg->controller.host, cfg->controller.port),
      source(*cfg, probe)
{
    // Below the empty script path every path is the operator's.
    svc = std::make_unique<webService>(
        listenerSettings(*cfg, port), "",
        [this](webService&) { return std::make_unique<operatorApp>(*this); },
        "\"fuelweb.operator.ip\", \"fuelweb.operator.port\"");
}

operatorListener::~operatorListener()
{
    svc->shutdown();
    if (runner.joinable()) runner.join();
    svc.reset();
}

bool operatorListener::start()
{
    try {
        svc->start();
    } catch (const std::exception& e) {
        poco_error(log, std::string(e.what()) + ": страница оператора не работает");
        return false;
    }
    running = true;
    runner = std::thread([this] { svc->run(); });
    poco_information(
        log, "Страница оператора: http://" + cfg->operatorListener.ip + ":" + std::to_string(port()) + "/");
    return true;
}

uint16_t operatorListener::port() const
{
    return running ? svc->port() : 0;
}

}  // namespace azs_apps
