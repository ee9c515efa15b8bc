#include "support/socket_stream.h"

#include <gtest/gtest.h>

// Which of the interface addresses are shown to other devices, in what order and form.
TEST(ShareableHosts, EveryInterfaceShowsNetworkAddressesIpv4First) {
    const std::vector<std::string> ifs = {
        "127.0.0.1", "::1",     "fe80::1", "fd00:91::1",      "10.91.0.1", "192.168.1.5",
        "10.91.0.1", "ff02::1", "0.0.0.0", "::ffff:10.9.9.9", "bogus"};
    const struct {
        const char* pszListen;
        std::vector<std::string> hosts;
    } cases[] = {
        {"", {"10.91.0.1", "192.168.1.5", "10.9.9.9", "[fd00:91::1]"}},
        {"::", {"10.91.0.1", "192.168.1.5", "10.9.9.9", "[fd00:91::1]"}},
        {"0.0.0.0", {"10.91.0.1", "192.168.1.5", "10.9.9.9"}},
        {"10.91.0.1", {"10.91.0.1"}},
        {"[::1]", {"[::1]"}},
        {"not an address", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShareableHosts(c.pszListen, ifs), c.hosts) << c.pszListen;
    EXPECT_EQ(ShareableHosts("", {"127.0.0.1", "::1"}), std::vector<std::string>());
}
