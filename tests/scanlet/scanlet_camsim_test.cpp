// The shared discovery library against camsim's discovery responder, with the
// real clock, in the private namespace.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "Camsim.h"
#include "UdpTestSocket.h"
#include "scanlet.h"

using namespace scanlet_test;

namespace {

const std::vector<uint8_t> kRequest = {'G', 'X', 'X', 'H', 12, 0, 0, 0, 0x5D, 0x5E, 0x62, 0x02, 0};

camsim::World MakeWorld(int n, const std::string& tag) {
    camsim::World w;
    for (int i = 0; i < n; ++i) {
        camsim::NetCamera c;
        c.address = camsim::NetCameraAddress(i);
        c.name = tag + "-cam-" + std::to_string(i + 1);
        c.identity = tag + "-" + std::to_string(i);
        w.net.push_back(c);
    }
    return w;
}

std::unique_ptr<camsim::Module> StartResponder(camsim::World& world,
                                               std::vector<std::string> options = {}) {
    auto m = camsim::MakeDiscoveryModule();
    std::vector<char*> argv;
    for (auto& o : options) argv.push_back(o.data());
    for (int i = 0; i < static_cast<int>(argv.size());) {
        int used = m->ParseOption(static_cast<int>(argv.size()), argv.data(), i);
        EXPECT_GT(used, 0) << argv[static_cast<size_t>(i)];
        if (used <= 0)
            return nullptr;
        i += used;
    }
    EXPECT_TRUE(m->Start(world));
    return m;
}

std::string Text(const std::vector<uint8_t>& d, size_t offset) {
    return std::string(reinterpret_cast<const char*>(d.data() + offset));
}

std::vector<DeviceInfo> Tagged(const std::string& tag) {
    std::vector<DeviceInfo> all(1000), out;
    int count = 1000;
    EXPECT_EQ(BSC_GetDevInfo(all.data(), &count), 1);
    for (int i = 0; i < count; ++i) {
        if (std::string(all[static_cast<size_t>(i)].identity).rfind(tag, 0) == 0) {
            out.push_back(all[static_cast<size_t>(i)]);
        }
    }
    return out;
}

TEST(CamsimDiscovery, AnswersFromEachCameraAddressToPort6002) {
    auto world = MakeWorld(3, "WIRE");
    auto responder = StartResponder(world);
    UdpSocket asker(6002);
    ASSERT_TRUE(asker.Ok());

    ASSERT_TRUE(asker.SendTo(kRequest, "255.255.255.255", 6001));
    std::vector<std::string> from;
    for (int i = 0; i < 3; ++i) {
        std::vector<uint8_t> d;
        sockaddr_in f{};
        ASSERT_TRUE(asker.Receive(&d, 2000, &f));
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &f.sin_addr, text, sizeof text);
        from.push_back(text);
        EXPECT_EQ(ntohs(f.sin_port), 6001);
        ASSERT_EQ(d.size(), 12u + 502u);
        EXPECT_EQ(GetLe32(d.data()), 0x48585847u);
        EXPECT_EQ(GetLe32(d.data() + 4), 12u);
        const size_t r = 12;
        EXPECT_EQ(GetLe32(d.data() + r + 8), 40002117u);
        EXPECT_EQ(Text(d, r + 255), text);  // the record names the sender's address
        EXPECT_EQ(Text(d, r + 57), "WIRE-" + std::to_string(i));
        EXPECT_EQ(Text(d, r + 288), "WIRE-cam-" + std::to_string(i + 1));
        EXPECT_FALSE(Text(d, r + 16).empty());
    }
    EXPECT_EQ(from, (std::vector<std::string>{"127.0.0.2", "127.0.0.3", "127.0.0.4"}));

    // A request to one camera's address gets that camera only; other commands none.
    std::vector<uint8_t> d;
    sockaddr_in f{};
    ASSERT_TRUE(asker.SendTo(kRequest, "127.0.0.3", 6001));
    ASSERT_TRUE(asker.Receive(&d, 2000, &f));
    EXPECT_EQ(Text(d, 12 + 255), "127.0.0.3");
    auto other = kRequest;
    other[8] ^= 1;
    ASSERT_TRUE(asker.SendTo(other, "255.255.255.255", 6001));
    EXPECT_FALSE(asker.Receive(&d, 500));

    responder->Stop();
    ASSERT_TRUE(asker.SendTo(kRequest, "255.255.255.255", 6001));
    EXPECT_FALSE(asker.Receive(&d, 500));
}

TEST(CamsimDiscovery, PrefixZeroPutsTheRecordFirst) {
    auto world = MakeWorld(1, "ZERO");
    auto responder = StartResponder(world, {"--discovery-prefix", "0"});
    UdpSocket asker(6002);
    ASSERT_TRUE(asker.SendTo(kRequest, "255.255.255.255", 6001));
    std::vector<uint8_t> d;
    ASSERT_TRUE(asker.Receive(&d, 2000));
    ASSERT_EQ(d.size(), 502u);
    EXPECT_EQ(GetLe32(d.data()), 0x48585847u);
    EXPECT_EQ(GetLe32(d.data() + 4), 0u);
    EXPECT_EQ(GetLe32(d.data() + 8), 40002117u);
    EXPECT_EQ(Text(d, 255), "127.0.0.2");
}

TEST(ScanletShared, FindsCamsimCamerasEndToEnd) {
    auto world = MakeWorld(5, "E2E");
    auto responder = StartResponder(world);
    UdpSocket listener(6001, /*reuse=*/true);  // beside camsim, sees the request too
    ASSERT_TRUE(listener.Ok());

    ASSERT_EQ(BSC_Init(), 1);
    std::vector<uint8_t> request;
    ASSERT_TRUE(listener.Receive(&request, 3000));
    EXPECT_EQ(request, kRequest);
    ASSERT_TRUE(WaitUntil([] { return Tagged("E2E").size() == 5; }));
    auto cams = Tagged("E2E");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(std::string(cams[static_cast<size_t>(i)].address), camsim::NetCameraAddress(i));
        EXPECT_EQ(std::string(cams[static_cast<size_t>(i)].info2),
                  "E2E-cam-" + std::to_string(i + 1));
    }
    EXPECT_GE(BSC_GetNum(), 5);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(BSC_DeInit(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST(ScanletShared, SurvivesFaultyAnswersAndCutsUnterminatedTexts) {
    {
        auto world = MakeWorld(4, "MIX");
        auto responder =
            StartResponder(world, {"--discovery-prefix", "0", "--discovery-malformed", "mixed"});
        ASSERT_EQ(BSC_Init(), 1);
        ASSERT_TRUE(WaitUntil([] { return Tagged("MIX").size() == 4; }));
        EXPECT_EQ(std::string(Tagged("MIX")[3].address), "127.0.0.5");
        EXPECT_EQ(BSC_DeInit(), 1);
    }
    {
        auto world = MakeWorld(1, "NOTERM");
        auto responder = StartResponder(world, {"--discovery-malformed", "noterm"});
        ASSERT_EQ(BSC_Init(), 1);
        // Every text byte is 'N', so the identity reads as 19 of them.
        ASSERT_TRUE(WaitUntil([] { return Tagged("NNNNNNNNNNNNNNNNNNN").size() == 1; }));
        DeviceInfo d = Tagged("NNNNNNNNNNNNNNNNNNN")[0];
        EXPECT_EQ(std::string(d.address), std::string(35, 'N'));
        EXPECT_EQ(std::string(d.info9), std::string(15, 'N'));
        EXPECT_EQ(BSC_DeInit(), 1);
    }
}

}  // namespace
