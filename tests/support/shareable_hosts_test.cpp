#include "support/socket_stream.h"

#include <gtest/gtest.h>

// Which interface addresses are shown to other devices, in what order and form.
TEST(ShareableHosts, NetworkAddressesIpv4FirstOrTheOneListenedOn) {
    const std::vector<std::string> ifs = {"::1",      "fe80::1", "fd00::1",         "10.9.0.1",
                                          "10.9.0.1", "ff02::1", "::ffff:10.9.9.9", "127.0.0.1"};
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"", {"10.9.0.1", "10.9.9.9", "[fd00::1]"}},
        {"0.0.0.0", {"10.9.0.1", "10.9.9.9"}},
        {"[::1]", {"[::1]"}},
        {"bogus", {}}};
    for (const auto& [pszListen, hosts] : cases)
        EXPECT_EQ(ShareableHosts(pszListen, ifs), hosts) << pszListen;
}
