// The ordering platform's stand-in: what it records and what it answers.
#include <gtest/gtest.h>

#include "lineClient.h"
#include "platformStub.h"

using namespace simtest;

namespace {

// Sends one raw HTTP/1.1 POST and returns the status code of the answer (0 when none).
int post(int port, const std::string& target, const std::string& body)
{
    lineClient c(port);
    std::string req = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-encoding: UTF-8\r\n" +
                      "charset: utf-8\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    std::string status;
    if (!c.send(req) || !c.readLine(status, 2000)) return 0;
    return status.size() > 12 ? std::atoi(status.substr(9, 3).c_str()) : 0;
}

class PlatformStub : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(stub.start(), 0); }
    sim::platformStub stub;
};

TEST_F(PlatformStub, RecordsTheRequestAsItArrived)
{
    std::string body =
        "apikey=c,s,a&orderId=42&litre=12.50&extendedOrderId=101&extendedDate=05.03.2024 14:07:09";
    EXPECT_EQ(post(stub.port(), "/completed?apikey=c,s,a&x=%20y", body), 200);
    ASSERT_TRUE(stub.waitForRequests(1, 1000));
    sim::platformRequest r = stub.requests()[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.path, "/completed");
    EXPECT_EQ(r.query, "apikey=c,s,a&x=%20y");
    EXPECT_EQ(r.body, body);
    EXPECT_EQ(r.header("content-encoding"), "UTF-8");
    EXPECT_EQ(r.header("Charset"), "utf-8");
    EXPECT_EQ(r.status, 200);
    auto form = sim::platformStub::formFields(r.body);
    EXPECT_EQ(form["litre"], "12.50");
    EXPECT_EQ(form["extendedDate"], "05.03.2024 14:07:09");
}

TEST_F(PlatformStub, AnswersTheStatusSetForThePath)
{
    stub.setStatus("/volume", 503);
    stub.setStatus("/callback/prices", 201);
    EXPECT_EQ(post(stub.port(), "/volume", "apikey=k&orderid=1&litre=1.000000"), 503);
    EXPECT_EQ(post(stub.port(), "/api/v2/callback/prices?apikey=s,a", "[]"), 201);  // endpoint with a path
    EXPECT_EQ(post(stub.port(), "/message", "msg=hi"), 200);
    EXPECT_EQ(post(stub.port(), "/elsewhere", ""), 404);
    EXPECT_EQ(stub.requests().size(), 4u);
    EXPECT_EQ(stub.requestsTo("/callback/prices").size(), 1u);
    stub.clear();
    EXPECT_TRUE(stub.requests().empty());
}

}  // namespace
