#pragma once
// The operator's page: one self-contained HTML document (its style and script inline, no fonts,
// scripts or anything else from elsewhere, so it works on a station PC without the internet). It
// asks "status.json" every second, by a relative address so that it works as well behind a proxy
// that serves it under a prefix (/operator/), and updates itself in place. The station's data
// goes in as text, never as markup.
#include <string>

namespace azs_apps {

const std::string& operatorPage();

}  // namespace azs_apps
