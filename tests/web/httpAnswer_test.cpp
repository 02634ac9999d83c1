// The head of every answer: status line, Date of the moment it is written, the fields, the length.
#include "httpAnswer.h"

#include <gtest/gtest.h>

#include <string>

#include "timeSource.h"

namespace {

class fixedClock : public pcudata::timeSource {
public:
    time_t at = 0;
    time_t now() override { return at; }
};

TEST(HttpAnswer, HeadsAsTheyGoOut)
{
    fixedClock clock;
    pcudata::timeSourceGuard guard(&clock);
    clock.at = 1796652429;  // Mon, 07 Dec 2026 14:07:09 GMT

    EXPECT_EQ(azs_apps::httpAnswer::head(
                  200, false, {{"Content-Type", "application/json"}, {"Content-Language", "ru"}}, 12, false),
              "HTTP/1.1 200 OK\r\nDate: Mon, 07 Dec 2026 14:07:09 GMT\r\nServer: fuelweb\r\n"
              "Content-Language: ru\r\nContent-Type: application/json\r\nContent-Length: 12\r\n\r\n");
    // A field that would break the head is left out.
    EXPECT_EQ(
        azs_apps::httpAnswer::head(404, true, {{"X-A", "1\r\nX-B: 2"}, {"X:Y", "1"}, {"X-C", "3"}}, 0, true),
        "HTTP/1.0 404 Not Found\r\nDate: Mon, 07 Dec 2026 14:07:09 GMT\r\nServer: fuelweb\r\n"
        "X-C: 3\r\nContent-Length: 0\r\nConnection: Close\r\n\r\n");
    EXPECT_EQ(azs_apps::httpAnswer::refusal(413, false).substr(0, 31), "HTTP/1.1 413 Content Too Large\r");

    // The next second is the next second, also on the same thread.
    clock.at += 1;
    EXPECT_NE(
        azs_apps::httpAnswer::head(200, false, {}, 0, false).find("Date: Mon, 07 Dec 2026 14:07:10 GMT\r\n"),
        std::string::npos);
    clock.at += 86400;
    EXPECT_NE(
        azs_apps::httpAnswer::head(200, false, {}, 0, false).find("Date: Tue, 08 Dec 2026 14:07:10 GMT\r\n"),
        std::string::npos);
}

}  // namespace
