// Lines of the shared library (here: a segment that can not be attached) land in the service log,
// with the system's reason, instead of on standard error.
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include "libLog.h"
#include "webTestSupport.h"
#include "weblog.h"

namespace {

TEST(LibraryLines, SegmentFailureReachesTheServiceLog)
{
    webtest::tempDir dir;
    webtest::logCapture logs;
    azs_apps::weblog::routeLibraryLines();
    const std::string missing = dir.path() + "/missing";
    {
        webtest::runningService svc(webtest::configWith(
            "\"upstream_key\":\"srv\",\"ctl_key\":\"azs\",\"tmp_path\":\"" + missing + "\""));
        testing::internal::CaptureStderr();
        const webtest::httpReply r =
            webtest::httpGet(svc.port(), "/api/fuelweb/ping?apikey=c,srv,azs&columnId=1");
        const std::string stderrText = testing::internal::GetCapturedStderr();
        EXPECT_EQ(r.status, 500);
        EXPECT_EQ(stderrText, "");
    }
    pcudata::libLog::setSink(nullptr);
    EXPECT_TRUE(logs.has("fuelweb", Poco::Message::PRIO_ERROR,
                         "Не удалось создать файл для выделения разделяемого сегмента: " + missing +
                             "/trkstat.mem: ENOENT (No such file or directory)"))
        << logs.texts("fuelweb").size();
}

}  // namespace
