// The ONVIF client against camsim's ONVIF cameras over real sockets, each
// fault switch on one camera while its neighbour stays good, and WS-Discovery
// by multicast and unicast. Runs inside scripts/netns-run.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "CameraModel.h"
#include "Camsim.h"
#include "OnvifClient.h"
#include "OnvifDiscovery.h"
#include "OnvifSoap.h"
#include "SimNetCameras.h"

namespace {

constexpr int kPort = 8080;

SimNetCameras Cameras(int count, const std::string& first, std::vector<std::string> faults = {}) {
    std::vector<std::string> options = {"--onvif", "--onvif-port", std::to_string(kPort)};
    for (const auto& f : faults) {
        options.push_back("--onvif-fault");
        options.push_back(f);
    }
    if (!faults.empty()) {
        options.push_back("--onvif-fault-camera");
        options.push_back("1");
    }
    return SimNetCameras(count, first, options, "IPC-", nullptr, camsim::MakeOnvifModule);
}

onvif::Options To(const std::string& address, const std::string& password = "quolt") {
    onvif::Options o;
    o.address = address + ":" + std::to_string(kPort);
    o.user = "admin";
    o.password = password;
    o.readLimitMs = 3000;
    return o;
}

TEST(OnvifClient, ReadsAndDrivesAGoodCamera) {
    SimNetCameras cams(1, "127.0.5.2", {"--onvif", "--onvif-port", std::to_string(kPort)}, "IPC-",
                       nullptr, camsim::MakeOnvifModule);
    ASSERT_TRUE(cams.Started()) << cams.BadOption();
    onvif::Client c;
    ASSERT_EQ(c.Connect(To(cams.Address(0))), onvif::kOk) << c.LastError().text;
    EXPECT_FALSE(c.ServiceAddresses().fromCapabilities);
    EXPECT_NE(c.ServiceAddresses().ptz.find("127.0.5.2"), std::string::npos);
    EXPECT_LE(std::llabs(c.ClockOffsetSeconds()), 2);

    onvif::DeviceInfo info;
    ASSERT_EQ(c.GetDeviceInformation(&info), onvif::kOk);
    EXPECT_EQ(info.model, "camsim IPC");
    EXPECT_EQ(info.serialNumber, "IPC-1");

    std::vector<onvif::Profile> profiles;
    ASSERT_EQ(c.GetProfiles(&profiles), onvif::kOk);
    ASSERT_EQ(profiles.size(), 2u);
    EXPECT_EQ(profiles[0].encoding, "H264");
    EXPECT_EQ(profiles[0].width, 640);
    EXPECT_EQ(profiles[1].height, 180);
    EXPECT_EQ(profiles[0].ptzConfigurationToken, "ptz");
    std::string uri;
    ASSERT_EQ(c.GetStreamUri(profiles[1].token, &uri), onvif::kOk);
    EXPECT_EQ(uri, "rtsp://127.0.5.2:554/sub");
    ASSERT_EQ(c.GetSnapshotUri(profiles[0].token, &uri), onvif::kOk);

    // Imaging: a write lands in the shared parameter store and reads back.
    const std::string vs = profiles[0].videoSourceToken;
    onvif::ImagingOptions opts;
    ASSERT_EQ(c.GetImagingOptions(vs, &opts), onvif::kOk);
    ASSERT_TRUE(opts.brightness);
    EXPECT_EQ(opts.brightness->max, 100);
    EXPECT_EQ(opts.whiteBalanceModes.size(), 2u);
    ASSERT_TRUE(onvif::ImagingFieldRange(opts, "exposure-time"));
    onvif::ImagingSettings set;
    set.brightness = 72.5;
    set.sharpness = 10;
    set.exposureMode = "MANUAL";
    set.exposureTime = 20000;
    set.wdrMode = "ON";
    ASSERT_EQ(c.SetImagingSettings(vs, set), onvif::kOk) << c.LastError().text;
    int32_t v = 0;
    ASSERT_TRUE(cams.Model(0).GetParam("Luminance", &v));
    EXPECT_EQ(v, 73);
    ASSERT_TRUE(cams.Model(0).GetParam("Hue", &v));
    EXPECT_EQ(v, 10);
    ASSERT_TRUE(cams.Model(0).GetParam("uiMShutterSpeed", &v));
    EXPECT_EQ(v, 2000);
    EXPECT_EQ(cams.Model(0).Snapshot().luminance, 73);
    onvif::ImagingSettings got;
    ASSERT_EQ(c.GetImagingSettings(vs, &got), onvif::kOk);
    EXPECT_EQ(got.brightness, 73);
    EXPECT_EQ(got.exposureMode, "MANUAL");
    EXPECT_EQ(got.wdrMode, "ON");
    EXPECT_EQ(got.exposureTime, 20000);
    // Out of range: refused whole, nothing changes.
    set = {};
    set.contrast = 20;
    set.brightness = 500;
    EXPECT_EQ(c.SetImagingSettings(vs, set), onvif::kErrFault);
    EXPECT_NE(c.LastError().faultSubcode.find("InvalidArgVal"), std::string::npos);
    ASSERT_TRUE(cams.Model(0).GetParam("Contrast", &v));
    EXPECT_EQ(v, 50);

    // Focus.
    onvif::FocusMoveOptions fm;
    ASSERT_EQ(c.GetFocusMoveOptions(vs, &fm), onvif::kOk);
    ASSERT_TRUE(fm.continuousSpeed);
    const int focus0 = cams.Model(0).Snapshot().focus;
    ASSERT_EQ(c.FocusMove(vs, 0.5), onvif::kOk);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(c.FocusStop(vs), onvif::kOk);
    EXPECT_GT(cams.Model(0).Snapshot().focus, focus0);

    // PTZ: options, move, stop, presets, home.
    const std::string p = profiles[0].token;
    onvif::PtzOptions po;
    ASSERT_EQ(c.GetPtzOptions(profiles[0].ptzConfigurationToken, &po), onvif::kOk);
    ASSERT_TRUE(po.panTiltX && po.zoom && po.timeout);
    EXPECT_EQ(po.timeout->max, 60);
    onvif::PtzVelocity vel;
    vel.panX = 0.5;
    vel.panY = 0;
    ASSERT_EQ(c.ContinuousMove(p, vel), onvif::kOk);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(cams.Model(0).Snapshot().moving);
    ASSERT_EQ(c.Stop(p), onvif::kOk);
    EXPECT_FALSE(c.StopWasEmulated());
    const auto at = cams.Model(0).Snapshot();
    EXPECT_FALSE(at.moving);
    EXPECT_GT(at.pan, 0);
    std::string token;
    ASSERT_EQ(c.SetPreset(p, "门口 <1>", "", &token), onvif::kOk);
    EXPECT_EQ(token, "1");
    std::vector<onvif::Preset> presets;
    ASSERT_EQ(c.GetPresets(p, &presets), onvif::kOk);
    ASSERT_EQ(presets.size(), 1u);
    EXPECT_EQ(presets[0].name, "门口 <1>");
    ASSERT_EQ(c.GotoHomePosition(p), onvif::kOk);
    EXPECT_EQ(cams.Model(0).Snapshot().pan, 0);
    ASSERT_EQ(c.GotoPreset(p, token), onvif::kOk);
    EXPECT_EQ(cams.Model(0).Snapshot().pan, at.pan);
    ASSERT_EQ(c.RemovePreset(p, token), onvif::kOk);
    EXPECT_EQ(c.GotoPreset(p, token), onvif::kErrFault);
    ASSERT_EQ(c.GetPresets(p, &presets), onvif::kOk);
    EXPECT_TRUE(presets.empty());
    std::string message;
    EXPECT_EQ(c.SystemReboot(&message), onvif::kOk);
    EXPECT_FALSE(message.empty());
}

TEST(OnvifClient, LoginFailuresAreAuthErrors) {
    auto cams = Cameras(2, "127.0.5.10", {"digest-only"});
    ASSERT_TRUE(cams.Started()) << cams.BadOption();
    for (int i = 0; i < 2; ++i) {
        onvif::Client c;
        // Digest-only (camera 1) answers 401 until HTTP digest; the other takes the token.
        ASSERT_EQ(c.Connect(To(cams.Address(i))), onvif::kOk) << i << c.LastError().text;
        onvif::DeviceInfo info;
        EXPECT_EQ(c.GetDeviceInformation(&info), onvif::kOk) << i;
        onvif::Client wrong;
        EXPECT_EQ(wrong.Connect(To(cams.Address(i), "nope")), onvif::kErrAuth) << i;
        EXPECT_EQ(wrong.LastError().code, onvif::kErrAuth);
        EXPECT_EQ(wrong.LastError().text.find("nope"), std::string::npos);
        EXPECT_EQ(wrong.LastError().httpStatus, i == 0 ? 401 : 400);
    }
}

TEST(OnvifClient, ClockTwoHoursOffIsCorrected) {
    auto cams = Cameras(1, "127.0.5.20", {"clock"});
    ASSERT_TRUE(cams.Started());
    onvif::Client c;
    ASSERT_EQ(c.Connect(To(cams.Address(0))), onvif::kOk) << c.LastError().text;
    EXPECT_NEAR(static_cast<double>(c.ClockOffsetSeconds()), 7200, 2);
    std::vector<onvif::Profile> profiles;
    EXPECT_EQ(c.GetProfiles(&profiles), onvif::kOk);
}

TEST(OnvifClient, ClockThatJumpsAfterConnectIsReadAgain) {
    auto cams = Cameras(1, "127.0.5.21", {"clock-jump"});
    ASSERT_TRUE(cams.Started());
    onvif::Client c;
    ASSERT_EQ(c.Connect(To(cams.Address(0))), onvif::kOk) << c.LastError().text;
    EXPECT_LE(std::llabs(c.ClockOffsetSeconds()), 2);
    // The camera's clock is now two hours on: the first call meets NotAuthorized,
    // the client reads the clock again and the call goes through.
    std::vector<onvif::Profile> profiles;
    EXPECT_EQ(c.GetProfiles(&profiles), onvif::kOk) << c.LastError().text;
    EXPECT_NEAR(static_cast<double>(c.ClockOffsetSeconds()), 7200, 2);
    EXPECT_EQ(profiles.size(), 2u);
}

TEST(OnvifClient, BrokenAnswersGiveClearErrors) {
    {
        auto cams = Cameras(1, "127.0.5.30", {"empty"});
        ASSERT_TRUE(cams.Started());
        onvif::Client c;
        ASSERT_EQ(c.Connect(To(cams.Address(0))), onvif::kOk);
        std::vector<onvif::Profile> profiles;
        EXPECT_EQ(c.GetProfiles(&profiles), onvif::kErrEmptyAnswer);
        EXPECT_NE(c.LastError().text.find("empty"), std::string::npos);
    }
    {
        auto cams = Cameras(1, "127.0.5.31", {"soap-fault"});
        ASSERT_TRUE(cams.Started());
        onvif::Client c;
        ASSERT_EQ(c.Connect(To(cams.Address(0))), onvif::kOk);
        onvif::ImagingSettings s;
        EXPECT_EQ(c.GetImagingSettings("video", &s), onvif::kErrFault);
        EXPECT_NE(c.LastError().faultCode.find("Receiver"), std::string::npos);
        EXPECT_NE(c.LastError().faultSubcode.find("ActionFailed"), std::string::npos);
        EXPECT_EQ(c.LastError().faultReason, "camsim: simulated failure");
        EXPECT_EQ(c.LastError().httpStatus, 500);
    }
    onvif::Client none;
    auto o = To("127.0.5.39");
    o.connectLimitMs = 500;
    EXPECT_EQ(none.Connect(o), onvif::kErrConnect);
    onvif::Client unconnected;
    onvif::DeviceInfo info;
    EXPECT_EQ(unconnected.GetDeviceInformation(&info), onvif::kErrNotConnected);
}

TEST(OnvifClient, StopRefusedIsAZeroMove) {
    auto cams = Cameras(1, "127.0.5.40", {"no-stop"});
    ASSERT_TRUE(cams.Started());
    onvif::Client c;
    ASSERT_EQ(c.Connect(To(cams.Address(0))), onvif::kOk);
    onvif::PtzVelocity v;
    v.zoom = 1;
    ASSERT_EQ(c.ContinuousMove("main", v), onvif::kOk);
    EXPECT_TRUE(cams.Model(0).Snapshot().moving);
    ASSERT_EQ(c.Stop("main"), onvif::kOk) << c.LastError().text;
    EXPECT_TRUE(c.StopWasEmulated());
    EXPECT_FALSE(cams.Model(0).Snapshot().moving);
    const auto log = cams.Model(0).PtzLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().action, "Stop");
}

TEST(OnvifClient, ServiceAddressesFallBackAndAreRewritten) {
    {
        auto cams = Cameras(1, "127.0.5.50", {"no-services"});
        ASSERT_TRUE(cams.Started());
        onvif::Client c;
        ASSERT_EQ(c.Connect(To(cams.Address(0))), onvif::kOk) << c.LastError().text;
        EXPECT_TRUE(c.ServiceAddresses().fromCapabilities);
        std::vector<onvif::Profile> profiles;
        EXPECT_EQ(c.GetProfiles(&profiles), onvif::kOk);
    }
    auto cams = Cameras(1, "127.0.5.60", {"wrong-address"});
    ASSERT_TRUE(cams.Started());
    onvif::Client c;
    ASSERT_EQ(c.Connect(To(cams.Address(0))), onvif::kOk);
    EXPECT_NE(c.ServiceAddresses().media.find("127.0.5.60:8080"), std::string::npos);
    std::string uri;
    ASSERT_EQ(c.GetStreamUri("main", &uri), onvif::kOk);
    EXPECT_EQ(uri, "rtsp://127.0.5.60:554/main");
    auto never = To(cams.Address(0));
    never.useConnectedHost = onvif::UseConnectedHost::kNever;
    never.connectLimitMs = 500;
    onvif::Client n;
    ASSERT_EQ(n.Connect(never), onvif::kOk);
    std::vector<onvif::Profile> profiles;
    EXPECT_EQ(n.GetProfiles(&profiles), onvif::kErrConnect);
}

TEST(OnvifDiscovery, MulticastFindsEveryCameraAndUnicastOne) {
    auto cams = Cameras(5, "127.0.6.2");
    ASSERT_TRUE(cams.Started());
    std::vector<onvif::DiscoveredCamera> found;
    onvif::DiscoveryOptions o;
    o.waitMs = 700;
    o.multicastInterface = "127.0.0.1";
    ASSERT_EQ(onvif::Discover(o, &found), onvif::kOk);
    ASSERT_EQ(found.size(), 5u);
    for (const auto& f : found) {
        ASSERT_EQ(f.xaddrs.size(), 1u);
        EXPECT_NE(f.xaddrs[0].find(f.from + ":8080"), std::string::npos);
        EXPECT_EQ(f.name.rfind("IPC-", 0), 0u);
    }
    o.target = cams.Address(3);
    ASSERT_EQ(onvif::Discover(o, &found), onvif::kOk);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].from, cams.Address(3));
    EXPECT_EQ(found[0].name, "IPC-4");
}

TEST(OnvifReaders, IgnoreWhatIsNotAnAnswerToUs) {
    const std::string id = "urn:uuid:1";
    const std::string good =
        onvif::ProbeMatchesMessage(id, "urn:uuid:cam", "http://127.0.0.2/x", {});
    std::vector<onvif::DiscoveredCamera> out;
    EXPECT_TRUE(onvif::ReadProbeMatches(good, id, &out));
    EXPECT_FALSE(onvif::ReadProbeMatches(good, "urn:uuid:2", &out));  // another probe's
    // A printer: same message, other type; and a camera type under another prefix.
    std::string printer = good;
    printer.replace(printer.find("dn:NetworkVideoTransmitter"), 26, "dn:Printer");
    EXPECT_FALSE(onvif::ReadProbeMatches(printer, id, &out));
    std::string renamed = good;
    renamed.replace(renamed.find("xmlns:dn="), 9, "xmlns:zz=");
    renamed.replace(renamed.find("dn:NetworkVideoTransmitter"), 26, "zz:NetworkVideoTransmitter");
    out.clear();
    EXPECT_TRUE(onvif::ReadProbeMatches(renamed, id, &out));
    EXPECT_FALSE(onvif::ReadProbeMatches(good.substr(0, good.size() / 2), id, &out));

    onvif::Error e;
    EXPECT_EQ(onvif::ReadSoapAnswer(200, "  \r\n", &e), onvif::kErrEmptyAnswer);
    EXPECT_EQ(onvif::ReadSoapAnswer(200, "<a/>", &e), onvif::kErrMalformed);
    EXPECT_EQ(onvif::ReadSoapAnswer(502, "<html/>", &e), onvif::kErrHttp);
    EXPECT_EQ(e.httpStatus, 502);
    // NotAuthorized by namespace, whatever the prefix.
    std::string fault = onvif::soap::Fault("Sender", "NotAuthorized", "no");
    EXPECT_EQ(onvif::ReadSoapAnswer(400, fault, &e), onvif::kErrAuth);
    const size_t p = fault.find("xmlns:ter=");
    fault.replace(p, 10, "xmlns:qq=");
    fault.replace(fault.find("ter:NotAuthorized"), 17, "qq:NotAuthorized");
    EXPECT_EQ(onvif::ReadSoapAnswer(400, fault, &e), onvif::kErrAuth);
    fault = onvif::soap::Fault("Sender", "NotAuthorized", "no");
    fault.replace(fault.find("xmlns:ter=\"") + 11, 4, "urn:");  // another namespace
    EXPECT_EQ(onvif::ReadSoapAnswer(400, fault, &e), onvif::kErrFault);
}

TEST(OnvifValues, NumbersAndTextsAreWrittenSafely) {
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(onvif::Format(0.5), "0.5");
    EXPECT_EQ(onvif::Format(50.0), "50.0");
    EXPECT_EQ(onvif::Escape("a<b>&\"'"), "a&lt;b&gt;&amp;&quot;&apos;");
    std::setlocale(LC_ALL, "C");
    onvif::ImagingSettings s;
    EXPECT_EQ(onvif::SetImagingField(&s, "brightness", "0,5"), onvif::kErrArgument);
    EXPECT_EQ(onvif::SetImagingField(&s, "hue", "1"), onvif::kErrArgument);
    EXPECT_EQ(onvif::SetImagingField(&s, "white-balance", "AUTO"), onvif::kOk);
    EXPECT_EQ(onvif::GetImagingField(s, "white-balance"), "AUTO");
}

}  // namespace
