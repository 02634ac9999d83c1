#pragma once
// The snapshot as the JSON of /status.json (and of the page, which reads it): compact, members
// sorted by name, as the rest of the service writes its answers; times as seconds since the epoch
// and ages in seconds. The README's "Operating the station" documents every member.
#include <string>

#include "stationSnapshot.h"

namespace azs_apps {

std::string statusJson(const stationSnapshot& s);

}  // namespace azs_apps
