// The discovery library's table, ageing and datagram checks, over real sockets
// in the private namespace, with the tick driven by the test.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "UdpTestSocket.h"
#include "scanlet.h"
#include "scanlet_test_hooks.h"

using namespace scanlet_test;

namespace {

std::atomic<uint32_t> g_now{0};
uint32_t FakeTick() {
    return g_now.load();
}

// Just short of the wrap, so the tests' time steps cross it.
constexpr uint32_t kStart = 0xFFFFF000u;

std::vector<DeviceInfo> List(int capacity = 1000) {
    std::vector<DeviceInfo> v(static_cast<size_t>(capacity));
    int count = capacity;
    EXPECT_EQ(BSC_GetDevInfo(v.data(), &count), 1);
    v.resize(static_cast<size_t>(count));
    return v;
}

const DeviceInfo* Find(const std::vector<DeviceInfo>& list, const std::string& identity) {
    for (const DeviceInfo& d : list) {
        if (identity == d.identity)
            return &d;
    }
    return nullptr;
}

bool Shows(const std::string& identity, const std::string& address) {
    auto list = List();
    const DeviceInfo* d = Find(list, identity);
    return d && address == d->address;
}

class ScanletTable : public ::testing::Test {
  protected:
    void SetUp() override {
        scanlet::test::ResetTable();
        scanlet::test::SetTickSource(FakeTick);
        g_now = kStart;
        ASSERT_TRUE(sender_.Ok());
    }
    void TearDown() override {
        BSC_DeInit();
        scanlet::test::SetTickSource(nullptr);
    }

    void Send(const std::vector<uint8_t>& d) { ASSERT_TRUE(sender_.SendTo(d, "127.0.0.1", 6002)); }

    // Sends an answer and waits until the library shows it.
    void Answer(const std::string& identity, const std::string& address) {
        Send(MakeAnswer(identity, address));
        ASSERT_TRUE(WaitUntil([&] { return Shows(identity, address); }))
            << identity << " " << address;
    }

    // Many answers, in batches small enough for the socket's receive buffer.
    void AnswerMany(int first, int last, const std::string& addressPrefix) {
        for (int i = first; i < last;) {
            int end = std::min(last, i + 50);
            for (int k = i; k < end; ++k)
                Send(MakeAnswer(Id(k), addressPrefix + std::to_string(k)));
            ASSERT_TRUE(WaitUntil(
                [&] { return Shows(Id(end - 1), addressPrefix + std::to_string(end - 1)); }));
            i = end;
        }
    }

    static std::string Id(int n) { return "CAM-" + std::to_string(n); }

    UdpSocket sender_;
};

TEST_F(ScanletTable, FirstRequestAtOnceEvenAtLowTick) {
    g_now = 100;  // a tick below 6000 must not hold the first request back
    UdpSocket cameraPort(6001);
    ASSERT_TRUE(cameraPort.Ok());
    ASSERT_EQ(BSC_Init(), 1);
    std::vector<uint8_t> d;
    sockaddr_in from{};
    ASSERT_TRUE(cameraPort.Receive(&d, 3000, &from));
    const std::vector<uint8_t> expected = {'G', 'X',  'X',  'H',  12,   0, 0,
                                           0,   0x5D, 0x5E, 0x62, 0x02, 0};
    EXPECT_EQ(d, expected);  // 40001117 = 0x02625E5D
    EXPECT_EQ(ntohs(from.sin_port), 6002);
}

TEST_F(ScanletTable, RequestRepeatsAfterMoreThanSixSecondsAcrossTheWrap) {
    UdpSocket cameraPort(6001);
    ASSERT_TRUE(cameraPort.Ok());
    ASSERT_EQ(BSC_Init(), 1);
    std::vector<uint8_t> d;
    ASSERT_TRUE(cameraPort.Receive(&d, 3000));
    g_now = kStart + 6000;  // not yet: more than 6000 ms must pass
    EXPECT_FALSE(cameraPort.Receive(&d, 1500));
    g_now = kStart + 6001;  // past the wrap
    ASSERT_TRUE(cameraPort.Receive(&d, 3000));
    EXPECT_EQ(d.size(), 13u);
    EXPECT_FALSE(cameraPort.Receive(&d, 1500));
}

TEST_F(ScanletTable, HeaderChecksIgnoreBadDatagramsAndKeepRunning) {
    ASSERT_EQ(BSC_Init(), 1);
    // Prefix length 0: the record starts at the magic.
    Answer("ZERO", "127.0.0.9");
    auto zero = MakeAnswer("ZERO-PREFIX", "127.0.0.10", 0);
    Send(zero);

    auto shortOne = MakeAnswer("SHORT", "127.0.1.1");
    shortOne.resize(11);
    auto magic = MakeAnswer("MAGIC", "127.0.1.2");
    magic[0] = 'g';
    auto beyond = MakeAnswer("BEYOND", "127.0.1.3");
    PutLe32(beyond.data() + 4, static_cast<uint32_t>(beyond.size() + 1));
    auto negative = MakeAnswer("NEGATIVE", "127.0.1.4");
    PutLe32(negative.data() + 4, 0xFFFFFFF0u);
    auto code = MakeAnswer("CODE", "127.0.1.5", 12, 40001117);
    auto oversized = MakeAnswer("OVERSIZED", "127.0.1.6", 12);
    oversized.resize(1001, 'x');
    for (const auto* d : {&shortOne, &magic, &beyond, &negative, &code, &oversized}) Send(*d);
    Answer("AFTER", "127.0.0.11");

    auto list = List();
    std::vector<std::string> ids;
    for (const DeviceInfo& d : list) ids.push_back(d.identity);
    EXPECT_EQ(ids, (std::vector<std::string>{"ZERO", "ZERO-PREFIX", "AFTER"}));
    EXPECT_STREQ(Find(list, "ZERO-PREFIX")->address, "127.0.0.10");
    EXPECT_STREQ(Find(list, "ZERO-PREFIX")->info3, "TV-TEST");

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(BSC_DeInit(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(ScanletTable, RecordIsCutFromThisDatagramOnly) {
    ASSERT_EQ(BSC_Init(), 1);
    // A full datagram first, so a stale receive buffer would show through.
    auto big = MakeAnswer("BIG", "127.0.0.2");
    std::memset(big.data() + 12 + 260, 'Q', 200);
    Send(big);
    // Ends in the middle of the address text, without a NUL; received bytes
    // beyond the 502-byte record are ignored.
    auto cut = MakeAnswer("CUT", "127.0.0.3", 12);
    cut.resize(12 + 255 + 5);
    Send(cut);
    auto longer = MakeAnswer("LONG", "127.0.0.4", 12);
    longer.resize(990, 'L');
    Send(longer);
    ASSERT_TRUE(WaitUntil([] { return Shows("LONG", "127.0.0.4"); }));
    auto list = List();
    ASSERT_NE(Find(list, "CUT"), nullptr);
    EXPECT_STREQ(Find(list, "CUT")->address, "127.0");
    EXPECT_STREQ(Find(list, "CUT")->info2, "");
}

TEST_F(ScanletTable, TextsAreCutToTheirFields) {
    ASSERT_EQ(BSC_Init(), 1);
    const std::string address40(40, 'A');
    Send(MakeAnswer("WIDE", address40));
    ASSERT_TRUE(WaitUntil([&] { return Shows("WIDE", address40.substr(0, 35)); }));

    // A record with no NUL anywhere in its texts, up to its very last byte.
    auto full = MakeAnswer("", "");
    std::memset(full.data() + 12 + 16, 'N', 502 - 16);
    Send(full);
    ASSERT_TRUE(WaitUntil([] { return BSC_GetNum() == 2; }));
    DeviceInfo d = List()[1];
    EXPECT_EQ(std::string(d.address), std::string(35, 'N'));
    EXPECT_EQ(std::string(d.info2), std::string(35, 'N'));
    EXPECT_EQ(std::string(d.identity), std::string(19, 'N'));
    EXPECT_EQ(std::string(d.info9), std::string(15, 'N'));
}

TEST_F(ScanletTable, SameIdentityKeepsOneSlotWithTheLaterAnswer) {
    ASSERT_EQ(BSC_Init(), 1);
    Answer("MAC-1", "127.0.0.2");
    Answer("MAC-2", "127.0.0.3");
    Answer("MAC-1", "127.0.0.4");
    auto list = List();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(BSC_GetNum(), 2);
    EXPECT_STREQ(list[0].identity, "MAC-1");
    EXPECT_STREQ(list[0].address, "127.0.0.4");
}

TEST_F(ScanletTable, CamerasAgeOutAfterFifteenSecondsAcrossTheWrap) {
    ASSERT_EQ(BSC_Init(), 1);
    Answer("OLD", "127.0.0.2");  // slot 0 at kStart
    g_now = kStart + 10000;
    Answer("NEW", "127.0.0.3");  // slot 1, 10 s later
    g_now = kStart + 15000;      // past the wrap; OLD is exactly 15 s old
    EXPECT_EQ(BSC_GetNum(), 2);
    g_now = kStart + 15001;
    EXPECT_EQ(BSC_GetNum(), 1);
    // A dead slot ahead of a live one is skipped, not counted against capacity.
    DeviceInfo one[1] = {};
    int count = 1;
    ASSERT_EQ(BSC_GetDevInfo(one, &count), 1);
    EXPECT_EQ(count, 1);
    EXPECT_STREQ(one[0].identity, "NEW");
    // A camera that comes back takes its old slot again.
    Answer("OLD", "127.0.0.5");
    auto list = List();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_STREQ(list[0].address, "127.0.0.5");
    g_now = kStart + 25001;
    EXPECT_EQ(BSC_GetNum(), 1);
    g_now = kStart + 40002;
    EXPECT_EQ(BSC_GetNum(), 0);
    EXPECT_TRUE(List().empty());
    // A whole tick cycle later the difference to NEW's time is small again;
    // a camera once seen dead stays dead until it answers.
    g_now = kStart + 10005;
    EXPECT_EQ(BSC_GetNum(), 0);
}

TEST_F(ScanletTable, GetDevInfoHonoursPointersAndCapacity) {
    ASSERT_EQ(BSC_Init(), 1);
    Answer("A", "127.0.0.2");
    Answer("B", "127.0.0.3");
    Answer("C", "127.0.0.4");

    DeviceInfo buf[3];
    std::memset(buf, 0xAB, sizeof buf);
    int count = 3;
    EXPECT_EQ(BSC_GetDevInfo(nullptr, &count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(BSC_GetDevInfo(buf, nullptr), 0);
    EXPECT_EQ(static_cast<unsigned char>(buf[0].address[0]), 0xAB);

    for (int capacity : {0, -4}) {
        count = capacity;
        EXPECT_EQ(BSC_GetDevInfo(buf, &count), 1);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(static_cast<unsigned char>(buf[0].address[0]), 0xAB);
    }

    count = 2;
    ASSERT_EQ(BSC_GetDevInfo(buf, &count), 1);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(buf[1].identity, "B");
    // The written record is zeroed behind its texts; the third is untouched.
    EXPECT_EQ(buf[1].address[35], 0);
    EXPECT_EQ(buf[1].info9[15], 0);
    EXPECT_EQ(static_cast<unsigned char>(buf[2].address[0]), 0xAB);
}

TEST_F(ScanletTable, FullTableReusesTheSlotDeadLongest) {
    ASSERT_EQ(BSC_Init(), 1);
    AnswerMany(0, 1000, "127.1.0.");
    EXPECT_EQ(BSC_GetNum(), 1000);

    // Everyone but camera 7 answers again 5 s later.
    g_now = kStart + 5000;
    AnswerMany(0, 7, "127.2.0.");
    AnswerMany(8, 1000, "127.2.0.");

    // Camera 7 is dead now, the rest alive: a new camera takes slot 7.
    g_now = kStart + 15500;
    Answer("NEWCOMER", "127.3.0.1");
    auto list = List();
    ASSERT_EQ(list.size(), 1000u);
    EXPECT_STREQ(list[7].identity, "NEWCOMER");
    EXPECT_EQ(Find(list, Id(7)), nullptr);

    // All 1000 alive: a new camera is dropped, a known one still refreshes.
    Send(MakeAnswer("DROPPED", "127.3.0.2"));
    Answer(Id(3), "127.3.0.3");
    list = List();
    EXPECT_EQ(Find(list, "DROPPED"), nullptr);
    EXPECT_EQ(list.size(), 1000u);

    g_now = kStart + 20100;  // the batch from kStart + 5000 is dead
    EXPECT_EQ(BSC_GetNum(), 2);
    Answer(Id(7), "127.3.0.7");  // a dead camera's slot is free for it again
    EXPECT_EQ(BSC_GetNum(), 3);
}

TEST(ScanletLifecycle, OneThreadPerProcessAndCleanRestart) {
    scanlet::test::SetTickSource(nullptr);
    {
        UdpSocket taken(6002);
        ASSERT_TRUE(taken.Ok());
        EXPECT_EQ(BSC_Init(), 0);  // port busy: failure, no thread
        EXPECT_EQ(BSC_DeInit(), 1);
    }
    ASSERT_EQ(BSC_Init(), 1);
    EXPECT_EQ(BSC_Init(), 1);  // already running: no second thread
    EXPECT_EQ(BSC_DeInit(), 1);
    {
        UdpSocket again(6002);  // the one thread closed its socket
        EXPECT_TRUE(again.Ok());
    }
    UdpSocket cameraPort(6001);
    ASSERT_EQ(BSC_Init(), 1);
    std::vector<uint8_t> d;
    EXPECT_TRUE(cameraPort.Receive(&d, 3000));
    EXPECT_EQ(BSC_DeInit(), 1);
}

}  // namespace
