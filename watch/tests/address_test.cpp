// The one reading of addresses that the options, the Host check and the
// server share.
#include "watch/address.h"

#include <gtest/gtest.h>

namespace watch {
namespace {

TEST(Address, ReadsNumericAddressesAsTheSocketCallsDo)
{
    EXPECT_EQ(parseNumericAddress("192.0.2.7").value().bytes, (std::array<std::uint8_t, 16>{192, 0, 2, 7}));
    EXPECT_FALSE(parseNumericAddress("192.0.2.7").value().ipv6);
    const std::optional<NumericAddress> mapped = parseNumericAddress("::FFFF:192.0.2.7");
    ASSERT_TRUE(mapped && mapped->ipv6);
    EXPECT_EQ(mapped->bytes,
              (std::array<std::uint8_t, 16>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 0, 2, 7}));
    for (const char *valid : {"0.0.0.0", "255.255.255.255", "::", "::1", "1::", "1:2:3:4:5:6:7:8",
                              "1:2:3:4:5:6:7::", "::2:3:4:5:6:7:8", "fe80::1", "1:2:3:4:5:6:1.2.3.4"})
        EXPECT_TRUE(parseNumericAddress(valid)) << valid;
    for (const char *invalid : {"", "localhost", "127.0.0", "127.0.0.1.", "127.0.0.01", "256.0.0.1",
                                "1.2.3.-4", "+1.2.3.4", "[::1]", "fe80::1%eth0"})
        EXPECT_FALSE(parseNumericAddress(invalid)) << invalid;
    for (const char *invalid : {":::", ":1", "1:", "1::2::3", "1:2:3:4:5:6:7:8:9", "1:2:3:4::5:6:7:8",
                                "12345::", "::g", "::1.2.3", "1:2:3:4:5:6:7:1.2.3.4"})
        EXPECT_FALSE(parseNumericAddress(invalid)) << invalid;
}

TEST(Address, TellsTheLoopbackInAnySpelling)
{
    for (const char *loopback :
         {"127.0.0.1", "127.255.0.9", "::1", "0:0:0:0:0:0:0:1", "::0:1", "::ffff:127.0.0.1", "::ffff:7f00:1"})
        EXPECT_TRUE(isLoopback(*parseNumericAddress(loopback))) << loopback;
    for (const char *other : {"128.0.0.1", "0.0.0.0", "::", "::2", "1::1", "::ffff:128.0.0.1", "::127.0.0.1"})
        EXPECT_FALSE(isLoopback(*parseNumericAddress(other))) << other;
    EXPECT_TRUE(isLoopbackName("localhost"));
    EXPECT_FALSE(isLoopbackName("localhost.example"));
}

TEST(Address, StripsBracketsOnceAndPutsThemBackOnce)
{
    const Endpoint ipv6 = parseEndpoint("[::1]:9100").value();
    EXPECT_EQ(ipv6.host + ' ' + std::to_string(ipv6.port), "::1 9100");
    EXPECT_EQ(urlHost(ipv6.host), "[::1]");
    EXPECT_EQ(urlHost("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(parseEndpoint("9100").value().host, "127.0.0.1");
    for (const char *invalid : {":9100", "[::1]:", "1.2.3.4:65536", "1.2.3.4:-1", "x"})
        EXPECT_FALSE(parseEndpoint(invalid)) << invalid;

    EXPECT_EQ(hostFieldName("[::FFFF:127.0.0.1]:80"), "::ffff:127.0.0.1");
    EXPECT_EQ(hostFieldName("Gaming-PC.:9100"), "gaming-pc");
    for (const char *refused : {"[gaming-pc]", "[::1", "[::1]x", "::1", "name:x"})
        EXPECT_EQ(hostFieldName(refused), "") << refused;
}

}  // namespace
}  // namespace watch
