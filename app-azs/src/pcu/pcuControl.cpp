#include "pcuControl.h"

#include "sharedConfig.h"

namespace pcudata {

namespace {
constexpr unsigned DEFAULT_CTL_PORT = 65520;
}  // namespace

pcuControl::pcuControl()
{
    setHost(sharedConfig::DEFAULT_CTL_ADDR);
    setPort(DEFAULT_CTL_PORT);
}

// A command session exists whether or not the controller answered; the caller looks at
// isConnected() and decides.
pcuControl::pcuControl(const std::string& address, unsigned port)
{
    setHost(address);
    setPort(port);
    connect(address, port);
}

pcuControl::pcuControl(int descriptor) : clientSock(descriptor)
{
    setHost(sharedConfig::DEFAULT_CTL_ADDR);
    setPort(DEFAULT_CTL_PORT);
}

pcuControl::~pcuControl()
{
    if (isConnected()) disconnect();
    shmStop();
    registered = false;
}

int pcuControl::get_paymnt(const std::string& kind) const
{
    if (kind == "Corporation") return corp_paymnt;
    if (kind == "Individual") return pers_paymnt;
    return paymnt;
}

// A negative limit would turn the overfill checks upside down; the built-in value stays instead.
void pcuControl::set_overfill_order(double v)
{
    if (v >= 0.0) overfill_order = v;
}

void pcuControl::set_overfill_lock(double v)
{
    if (v >= 0.0) overfill_lock = v;
}

void pcuControl::set_overfill_lock_min_order(double v)
{
    if (v >= 0.0) overfill_lock_min_order = v;
}

// Only remembers the key file; the segment is attached on first use by shmInit.
void pcuControl::setIpcPath(const std::string& path)
{
    seg.setIpcPath(path);
}

const std::string& pcuControl::getIpcPath() const
{
    return seg.ipcPath;
}

}  // namespace pcudata
