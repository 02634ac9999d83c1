#include "sharedConfig.h"

#include "shmSegment.h"

namespace pcudata {

sharedConfig sharedConfig::read(const configFile& cfg)
{
    sharedConfig s;
    s.ctlAddr = cfg.getString("fuelweb.ctl_addr", DEFAULT_CTL_ADDR);
    s.tmpPath = cfg.getString("fuelweb.tmp_path", DEFAULT_TMP_PATH);
    return s;
}

std::string sharedConfig::keyFile() const
{
    return shmKeyFile(tmpPath);
}

}  // namespace pcudata
