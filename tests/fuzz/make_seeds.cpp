// Writes the harnesses' seed corpora from real exchanges: the program's own
// request bytes, captured from its transports, sent to camsim, and camsim's
// answers as they come back, each put in the input format of its harness.
// The seeds are kept in the repository; run this again only when a format
// changes, inside the private network namespace (camsim listens on loopback):
//   scripts/netns-run build-fuzz/tests/fuzz/fuzz_make_seeds tests/fuzz/corpus
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CUSBDevice.h"
#include "CameraModel.h"
#include "Camsim.h"
#include "FuzzHid.h"
#include "FuzzInput.h"
#include "FuzzQuiet.h"
#include "LoopbackClient.h"
#include "MemNet.h"
#include "NetCommands.h"
#include "PELION_SDK.h"
#include "PelionWire.h"
#include "StreamEncoder.h"
#include "UpgradeEngine.h"
#include "UpgradePackage.h"
#include "UsbSim.h"
#include "VideoParam.h"

namespace {

namespace fs = std::filesystem;
namespace wire = pelion::wire;

constexpr int kWaitMs = 5000;
constexpr size_t kUsbReportLength = 65;

fs::path g_root;
int g_written = 0;

void Seed(const char* harness, const std::string& name, const std::string& bytes) {
    fs::create_directories(g_root / harness);
    std::ofstream(g_root / harness / name, std::ios::binary) << bytes;
    ++g_written;
}

[[noreturn]] void Die(const char* what) {
    std::fprintf(stderr, "fuzz_make_seeds: %s\n", what);
    std::exit(1);
}

// ---- USB: the program's request reports, camsim's answer reports ----------

struct UsbExchange {
    std::string name;
    uint32_t cmd = 0;
    uint32_t answerSize = 0;  // what the program hands the transport
    std::string payload;
    std::vector<std::string> requests;  // the program's reports
    std::vector<std::string> answers;   // camsim's reports
};

std::vector<UsbExchange> CaptureUsbRequests() {
    auto backend = std::make_shared<fuzz::ScriptedBackend>();
    auto script = backend->Add(static_cast<int>(kUsbReportLength));
    strevo::CUSBDevice usb(backend);
    if (usb.DeviceOpen() != 1)
        Die("no scripted device");
    strevo::UsbHandle h = usb.GetEntry(0).handle;
    strevo::VideoParam record{};
    std::string ptz;
    strevo::BuildPtzText("Left", 46, 0, &ptz);
    std::string item;
    strevo::BuildSetItemText(strevo::MakeVideoParamItem("BExpCPS", -2).c_str(), &item);
    // A small firmware package: announced, sent, polled, then the camera reboots.
    std::string package(300, '\0');
    for (size_t i = 0; i < package.size(); ++i) package[i] = static_cast<char>(i * 13);
    const std::string upgrade = strevo::BuildUpgradeRequest(static_cast<uint32_t>(package.size()));
    std::string whole;
    record.Luminance = 60;
    record.BExpCPS = -3;
    record.u32CTNum = 5600;
    strevo::BuildSetVideoParamText(record, &whole);

    struct Op {
        const char* name;
        uint32_t cmd;
        uint32_t answerSize;
        std::string payload;
        std::function<void()> run;
    };
    std::vector<Op> ops = {
        {"get_video_param", strevo::kCmdGetVideoParam, 3072, strevo::kUsbGetVideoParamText,
         [&] { usb.GetVideoParam(h, &record); }},
        {"set_item", strevo::kCmdSetVideoParam, 0, item + '\0',
         [&] { usb.SetVideoParamItem(h, strevo::MakeVideoParamItem("BExpCPS", -2).c_str()); }},
        {"set_whole_record", strevo::kCmdSetVideoParam, 0, whole + '\0',
         [&] { usb.SetVideoParam(h, &record); }},
        {"focus_near", strevo::kCmdGetFocusNear, 512, strevo::kGetFocusNearText,
         [&] { usb.GetFocusNear(h); }},
        {"defaults", strevo::kCmdSetDefaultParam, 0, strevo::kSetDefaultParamText,
         [&] { usb.SetDefaultParam(h); }},
        {"identity", strevo::kCmdGetDeviceInfo, 1024, "",
         [&] {
             strevo::UsbDeviceInfo info{};
             usb.GetDeviceInfo(h, &info);
         }},
        {"upgrade", strevo::kCmdUpgradeRequest, 1024, upgrade + '\0',
         [&] {
             strevo::CUSBDevice::Transact(h, strevo::kCmdUpgradeRequest, upgrade.c_str(),
                                          static_cast<uint32_t>(upgrade.size() + 1), nullptr, 0,
                                          nullptr, 5);
             strevo::CUSBDevice::Transact(h, strevo::kCmdUpgradeData, package.data(),
                                          static_cast<uint32_t>(package.size()), nullptr, 0,
                                          nullptr, 5);
             strevo::CUSBDevice::Transact(h, strevo::kCmdUpgradeStatus, nullptr, 0, nullptr, 0,
                                          nullptr, 5);
             strevo::CUSBDevice::Transact(h, strevo::kCmdReboot, nullptr, 0, nullptr, 0, nullptr,
                                          5);
         }},
        {"ptz", strevo::kCmdPtzCtrl, 0, ptz + '\0',
         [&] {
             strevo::CUSBDevice::Transact(h, strevo::kCmdPtzCtrl, ptz.c_str(),
                                          static_cast<uint32_t>(ptz.size() + 1), nullptr, 0,
                                          nullptr, 5);
         }},
    };
    std::vector<UsbExchange> out;
    for (Op& op : ops) {
        script->written.clear();
        op.run();
        UsbExchange e;
        e.name = op.name;
        e.cmd = op.cmd;
        e.answerSize = op.answerSize;
        e.payload = op.payload;
        if (e.payload == strevo::kUsbGetVideoParamText || e.payload == strevo::kGetFocusNearText ||
            e.payload == strevo::kSetDefaultParamText)
            e.payload.push_back('\0');  // sent with the NUL
        e.requests = script->written;
        out.push_back(e);
    }
    return out;
}

camsim::UsbCamera UsbCamera(const std::string& name, int reportLength) {
    camsim::UsbCamera c;
    c.name = name;
    c.model = "CAMSIM-U1";
    c.serial = "SN20240117001";
    c.buildDate = "2024-01-17";
    c.biosVersion = 0x0102;
    c.reportLength = reportLength;
    return c;
}

// Reads camsim's answer reports up to the one flagged last.
std::vector<std::string> ReadUsbAnswer(fuzz::LoopbackClient& c, std::string* buf) {
    std::vector<std::string> reports;
    for (;;) {
        if (c.ReadUntil(buf, 2, kWaitMs) != 1)
            Die("camsim did not answer");
        size_t size = fuzz::GetLe(*buf, 0, 2);
        if (c.ReadUntil(buf, 2 + size, kWaitMs) != 1)
            Die("answer cut off");
        reports.push_back(buf->substr(2, size));
        buf->erase(0, 2 + size);
        if (fuzz::GetLe(reports.back(), 11, 2) == 1)
            return reports;
    }
}

std::string UsbList(int port) {
    fuzz::LoopbackClient c(port);
    std::string reply;
    if (!c.Send("LIST\n") || c.ReadUntil(&reply, SIZE_MAX, kWaitMs) != 0)
        Die("no device list");
    return reply;
}

void UsbSeeds() {
    std::vector<UsbExchange> ex = CaptureUsbRequests();
    camsim::UsbSimServer server;
    int port = server.Start({UsbCamera("测试相机一号", static_cast<int>(kUsbReportLength)),
                             UsbCamera("USB Camera with a rather long product name", 33)});
    if (port <= 0)
        Die("camsim's HID link did not start (run inside scripts/netns-run)");
    const std::string list = UsbList(port);
    {
        fuzz::LoopbackClient c(port);
        std::string buf;
        if (!c.Send("OPEN camsim-usb-0\n") || c.ReadUntil(&buf, 3, kWaitMs) != 1 ||
            buf.substr(0, 3) != "OK\n")
            Die("camera not opened");
        buf.erase(0, 3);
        for (UsbExchange& e : ex) {
            if (e.name == "upgrade")
                continue;  // the camera reboots: asked last, on a link of its own below
            std::string requests;
            for (const auto& r : e.requests) requests += fuzz::Prefixed(r);
            if (!c.Send(requests))
                Die("request not sent");
            e.answers = ReadUsbAnswer(c, &buf);
        }
    }
    server.Stop();

    for (const UsbExchange& e : ex) {
        if (e.name == "upgrade") {
            // Only the requests: the camera's side of an update is fuzz_upgrade's.
            fuzz::Output req;
            req.Byte(33 - 18).Byte(0);
            for (const auto& r : e.requests) req.U16(static_cast<uint16_t>(r.size())).Raw(r);
            Seed("fuzz_camsim_usb", e.name, req.Bytes());
            continue;
        }
        // fuzz_camsim_usb: camera 1 of 33 bytes, open camera 0, the program's reports.
        fuzz::Output req;
        req.Byte(33 - 18).Byte(0);
        for (const auto& r : e.requests) req.U16(static_cast<uint16_t>(r.size())).Raw(r);
        Seed("fuzz_camsim_usb", e.name, req.Bytes());

        // fuzz_usb_transact: one transaction as the program makes it, camsim's reports raw.
        fuzz::Output tr;
        tr.U16(kUsbReportLength)
            .Byte(e.answerSize ? 3 : 0)
            .U16(static_cast<uint16_t>(e.answerSize))
            .U16(static_cast<uint16_t>(e.payload.size()))
            .U32(e.cmd)
            .Byte(static_cast<uint8_t>(e.answers.size()));
        for (const auto& a : e.answers) tr.Byte(0xFF).Piece(a);
        Seed("fuzz_usb_transact", e.name, tr.Bytes());

        std::string text;
        for (const auto& a : e.answers) text.append(a, 17, fuzz::GetLe(a, 9, 2));
        if (e.name == "identity") {
            Seed("fuzz_usb_identity", "camsim",
                 fuzz::Output().Byte(kUsbReportLength - 18).Byte(0).Raw(text).Bytes());
            // fuzz_hid_link: the device list, the open reply, then the identity answer.
            std::string after;
            for (const auto& a : e.answers) after += fuzz::Prefixed(a);
            Seed("fuzz_hid_link", "identity",
                 fuzz::Output().Piece(list).Piece("OK\n").Raw(after).Bytes());
            Seed("fuzz_hid_link", "busy", fuzz::Output().Piece(list).Piece("ERR busy\n").Bytes());
        }
        if (e.name == "get_video_param") {
            Seed("fuzz_video_param", "usb_read",
                 fuzz::Output().Byte(2).Byte(kUsbReportLength - 18).Raw(text).Bytes());
            // An answer larger than a small buffer: the rest is still read, the result is -307.
            fuzz::Output small;
            small.U16(kUsbReportLength)
                .Byte(3)
                .U16(200)
                .U16(static_cast<uint16_t>(e.payload.size()))
                .U32(e.cmd);
            small.Byte(static_cast<uint8_t>(e.answers.size()));
            for (const auto& a : e.answers) small.Byte(0xFF).Piece(a);
            Seed("fuzz_usb_transact", "overflow", small.Bytes());
        }
        if (e.name == "focus_near")
            Seed("fuzz_video_param", "usb_focus",
                 fuzz::Output().Byte(3).Byte(kUsbReportLength - 18).Raw(text).Bytes());
    }
    // Two transactions on one device, the first answer left half read.
    const UsbExchange& get = ex[0];
    fuzz::Output two;
    two.U16(kUsbReportLength)
        .Byte(3)
        .U16(3072)
        .U16(static_cast<uint16_t>(get.payload.size()))
        .U32(get.cmd);
    two.Byte(2).Byte(0xFF).Piece(get.answers[0]).Byte(0);
    two.Byte(3).U16(3072).U16(static_cast<uint16_t>(get.payload.size())).U32(get.cmd);
    two.Byte(static_cast<uint8_t>(get.answers.size()));
    for (const auto& a : get.answers) two.Byte(0xFF).Piece(a);
    Seed("fuzz_usb_transact", "stale_then_whole", two.Bytes());
    Seed("fuzz_camsim_usb", "list", fuzz::Output().Byte(15).Byte(2).Bytes());
    Seed("fuzz_camsim_usb", "open_unknown",
         fuzz::Output().Byte(15).Byte(3).Piece("OPEN camsim-usb-7").Bytes());
}

// ---- Network: the SDK client's bytes, camsim's answers ----------------------

std::string Frame(uint8_t type, uint32_t sequence, const std::string& payload) {
    std::string f(wire::kHeaderSize, '\0');
    wire::Header h;
    h.type = type;
    h.sequence = sequence;
    h.length = static_cast<uint32_t>(payload.size());
    wire::EncodeHeader(h, reinterpret_cast<uint8_t*>(f.data()));
    return f + payload;
}

struct ClientBytes {
    std::string login;   // login request
    std::string texts;   // the text requests
    std::string logout;  // the log-out frame
    std::string stream;  // stream request (session token 1)
    int commands = 0;
};

// What the SDK client sends for the program's commands, captured in memory.
ClientBytes CaptureClient() {
    std::string answers =
        Frame(wire::kLoginAnswer, 1, std::string("\0\0\0\0\1\0\0\0", 8) + std::string(288, '\0'));
    for (uint32_t seq = 2; seq < 12; ++seq)
        answers += Frame(wire::kTextAnswer, seq, std::string(4, '\0') + "{}");
    auto control = std::make_shared<fuzz::memnet::Script>();
    control->inbound = answers;
    auto stream = std::make_shared<fuzz::memnet::Script>();
    stream->inbound = Frame(wire::kStreamAnswer, 1, std::string(20, '\0'));
    fuzz::memnet::Begin();
    fuzz::memnet::Queue(control);
    PELION_Init(0);
    int32_t login = PELION_Login(strevo::ProgramLoginInfo("127.0.0.2"), nullptr, 0, 0, 0, 0);
    if (login < 0)
        Die("in-memory login failed");
    ClientBytes out;
    out.login = control->outbound;
    strevo::NetCommandChannel net;
    net.SetDeviceHandle(login);
    strevo::VideoParam p{};
    net.GetVideoParam(&p);
    net.SetVideoParamItem(strevo::MakeVideoParamItem("Luminance", 70).c_str());
    p.Luminance = 70;
    p.BExpCPS = -2;
    net.SetVideoParam(&p);
    net.GetFocusNear();
    net.SendPtz("ZoomTele", 3, 3);
    net.SetDefaultParam();
    out.commands = 6;
    out.texts = control->outbound.substr(out.login.size());
    fuzz::memnet::Queue(stream);
    int32_t play = PELION_StartRealPlay(
        login, 0, 1, [](int32_t, const uint8_t*, uint32_t, uint32_t, void*) {}, nullptr);
    out.stream = stream->outbound;
    if (play >= 0) {
        fuzz::memnet::WaitReaderGone(stream, kWaitMs);
        PELION_StopRealPlay(play);
    }
    size_t before = control->outbound.size();
    PELION_LogOut(login);
    out.logout = control->outbound.substr(before);
    PELION_Cleanup();
    return out;
}

// Whole frames from the connection until count of them have come.
std::vector<std::string> ReadFrames(fuzz::LoopbackClient& c, std::string* buf, size_t count) {
    std::vector<std::string> frames;
    while (frames.size() < count) {
        if (c.ReadUntil(buf, wire::kHeaderSize, kWaitMs) != 1)
            Die("camsim sent no frame");
        size_t length = fuzz::GetLe(*buf, 12, 4);
        if (c.ReadUntil(buf, wire::kHeaderSize + length, 15000) != 1)
            Die("frame cut off");
        frames.push_back(buf->substr(0, wire::kHeaderSize + length));
        buf->erase(0, wire::kHeaderSize + length);
    }
    return frames;
}

void NetSeeds() {
    ClientBytes client = CaptureClient();

    auto module = camsim::MakeNetModule();
    camsim::World world;
    camsim::NetCamera cam;
    cam.address = "127.0.0.2";
    cam.name = "网络相机 1";
    cam.identity = "00:1a:2b:3c:4d:5e";
    cam.model = std::make_shared<camsim::CameraModel>(cam.name);
    world.net.push_back(cam);
    if (!module->Start(world))
        Die("camsim's network camera did not start (run inside scripts/netns-run)");

    std::string controlAnswers, streamAnswers;
    {
        fuzz::LoopbackClient control(36666, "127.0.0.2");
        std::string buf;
        if (!control.Send(client.login + client.texts))
            Die("requests not sent");
        auto frames = ReadFrames(control, &buf, 1 + static_cast<size_t>(client.commands));
        for (const auto& f : frames) controlAnswers += f;
        // A stream of this login: its token in the stream request; a key frame and one more.
        std::string request = client.stream;
        request.replace(wire::kHeaderSize, 4, frames[0], wire::kHeaderSize + 4, 4);
        fuzz::LoopbackClient stream(36666, "127.0.0.2");
        std::string sbuf;
        if (!stream.Send(request))
            Die("stream request not sent");
        for (const auto& f : ReadFrames(stream, &sbuf, 3)) streamAnswers += f;
    }
    module->Stop();

    // fuzz_pelion: stream on, one answer per command with the program's buffer sizes.
    const uint16_t capacities[6] = {3072, 1024, 1024, 512, 512, 1024};
    const uint8_t texts[6] = {0, 3, 3, 1, 3, 2};
    fuzz::Output pel;
    pel.Byte(4).Byte(static_cast<uint8_t>(client.commands));
    for (int i = 0; i < client.commands; ++i) pel.Byte(texts[i]).U16(capacities[i]);
    pel.Piece(controlAnswers).Raw(streamAnswers);
    Seed("fuzz_pelion", "camsim_session", pel.Bytes());
    // The same answers into buffers too small for them, the control connection then silent.
    fuzz::Output small;
    small.Byte(1).Byte(3).Byte(0).U16(40).Byte(1).U16(1).Byte(3).U16(0).Piece(controlAnswers);
    Seed("fuzz_pelion", "small_buffers", small.Bytes());
    Seed("fuzz_pelion", "refused",
         fuzz::Output()
             .Byte(0)
             .Byte(0)
             .Piece(Frame(wire::kLoginAnswer, 1, std::string("\xf7\xff\xff\xff\0\0\0\0", 8)))
             .Bytes());

    // fuzz_camsim_net: the client's session, a stream request with no session, a wrong password.
    fuzz::Output net;
    net.Byte(0)
        .Byte(0)
        .Piece(client.login + client.texts + client.logout)
        .Byte(0)
        .Piece(client.stream);
    Seed("fuzz_camsim_net", "session", net.Bytes());
    std::string wrong = client.login;
    wrong[wire::kHeaderSize + 32] ^= 1;
    Seed("fuzz_camsim_net", "wrong_password", fuzz::Output().Byte(1).Byte(1).Piece(wrong).Bytes());
    std::string v2 = client.login;
    v2[4] = 2;
    Seed("fuzz_camsim_net", "version_2", fuzz::Output().Byte(0).Byte(0).Piece(v2).Bytes());

    // fuzz_video_param: camsim's text answers as the network channel hands them over.
    std::string read =
        controlAnswers.substr(wire::kHeaderSize + fuzz::GetLe(controlAnswers, 12, 4));
    size_t readLength = fuzz::GetLe(read, 12, 4);
    Seed("fuzz_video_param", "net_read",
         fuzz::Output()
             .Byte(0)
             .Byte(0)
             .Raw(read.substr(wire::kHeaderSize + 4, readLength - 4))
             .Bytes());
    camsim::CameraModel model("seed");
    Seed("fuzz_video_param", "net_focus",
         fuzz::Output().Byte(1).Byte(0).Raw(model.HandleJson(strevo::kGetFocusNearText)).Bytes());
    Seed("fuzz_video_param", "negative",
         fuzz::Output().Byte(0).Byte(0).Raw("{\"Content\":{\"nResult\":-5}}").Bytes());

    // fuzz_param_file: camsim's record as an export writes it, and one byte off either way.
    strevo::VideoParam record{};
    std::string answer = model.HandleJson(strevo::kNetGetVideoParamText);
    if (strevo::ParseVideoParamAnswer(answer.data(), answer.size(), &record) != 0)
        Die("camsim's record not read");
    std::string file(reinterpret_cast<const char*>(&record), sizeof record);
    Seed("fuzz_param_file", "video_params.dat", file);
    Seed("fuzz_param_file", "short", file.substr(0, 54));
    Seed("fuzz_param_file", "long", file + '\0');
}

// ---- Discovery: camsim's answers to the search request ---------------------

void DiscoverySeeds() {
    auto module = camsim::MakeDiscoveryModule();
    camsim::World world;
    for (int i = 0; i < 2; ++i) {
        camsim::NetCamera cam;
        cam.address = camsim::NetCameraAddress(i);
        cam.name = "相机 " + std::to_string(i + 1);
        cam.identity = "00:1a:2b:3c:4d:" + std::to_string(60 + i);
        world.net.push_back(cam);
    }
    if (!module->Start(world))
        Die("camsim's discovery responder did not start (run inside scripts/netns-run)");
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(6002);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        Die("port 6002 taken");
    uint8_t request[13] = {'G', 'X', 'X', 'H', 12, 0, 0, 0};
    const uint32_t search = 40001117;
    std::memcpy(request + 8, &search, 4);
    sockaddr_in to = a;
    to.sin_port = htons(6001);
    ::sendto(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    std::vector<std::string> answers;
    while (answers.size() < 2) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kWaitMs) <= 0)
            Die("no discovery answer");
        char buf[1500];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0)
            answers.emplace_back(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    module->Stop();

    fuzz::Output one;
    one.U32(0xFFFFF000u).Byte(0).Piece(answers[0]);
    Seed("fuzz_scanlet", "answer", one.Bytes());
    // Both cameras, the first again from another address after 10 s, then 16 s of silence.
    std::string moved = answers[0];
    std::memcpy(moved.data() + 12 + 255, "127.0.0.9", 9);
    fuzz::Output more;
    more.U32(1000)
        .Byte(0)
        .Piece(answers[0])
        .Byte(1)
        .Piece(answers[1])
        .Byte(2)
        .U16(1250)
        .Byte(0)
        .Piece(moved)
        .Byte(2)
        .U16(2000);
    Seed("fuzz_scanlet", "two_cameras", more.Bytes());
    // The record at the very start (prefix 0) and a short datagram.
    std::string bare = answers[1].substr(12);
    std::memcpy(bare.data(), "GXXH\0\0\0\0", 8);
    Seed("fuzz_scanlet", "prefix_0",
         fuzz::Output().U32(0).Byte(0).Piece(bare).Byte(0).Piece(answers[1].substr(0, 11)).Bytes());
}

// ---- Stream: camsim's encoder, as a network camera streams -----------------

void MovraSeeds() {
    camsim::StreamEncoder encoder;
    std::string error;
    if (!encoder.Open(64, 48, 15, &error))
        Die(error.c_str());
    camsim::YuvPicture picture;
    picture.Resize(64, 48);
    std::vector<std::string> units;
    for (int frame = 0; units.size() < 4 && frame < 30; ++frame) {
        for (size_t i = 0; i < picture.y.size(); ++i)
            picture.y[i] = static_cast<uint8_t>(i + frame * 9);
        std::vector<uint8_t> out;
        bool key = false;
        if (!encoder.Encode(picture, &out, &key))
            Die("encoding failed");
        if (!out.empty())
            units.emplace_back(out.begin(), out.end());
    }
    std::string joined;
    for (const auto& u : units) joined += u;
    // One access unit per call, tagged, into a 160x120 pane.
    fuzz::Output perUnit;
    perUnit.Byte(20).Byte(15).Byte(1);
    for (const auto& u : units) perUnit.Piece(u);
    Seed("fuzz_movra", "units", perUnit.Bytes());
    // Pieces that ignore the units' ends, at the decoded size.
    fuzz::Output split;
    split.Byte(0).Byte(0).Byte(4);
    for (size_t at = 0; at < joined.size(); at += 97) split.Piece(joined.substr(at, 97));
    Seed("fuzz_movra", "split", split.Bytes());
    // The port reopened halfway: the second half starts without a key frame.
    fuzz::Output reopen;
    reopen.Byte(40).Byte(10).Byte(3);
    for (const auto& u : units) reopen.Piece(u);
    Seed("fuzz_movra", "reopen", reopen.Bytes());
}

// ---- toolscfg.ini -----------------------------------------------------------

void IniSeeds() {
    auto seed = [](const char* name, uint8_t key, uint8_t value, const std::string& content) {
        Seed("fuzz_ini", name,
             fuzz::Output().Byte(key).Byte(value).U16(1280).U16(800).Byte(1).Raw(content).Bytes());
    };
    seed("program", 0, 0,
         "[WIN_SIZE]\r\nWidth=1024\r\nHeight=768\r\n[SEARCH_MODE]\r\nMode=1\r\n[VID]\r\nSRC1="
         "0x1704\r\nSRC2=2E8A\r\n"
         "[LOG]\r\nLevel=2\r\n");
    seed("log_only", 2, 4, "[LOG]\nLevel=5\n");
    seed("gaps", 3, 2,
         "; vendor ids\n[vid]\n SRC1 = 1705 \nSRC3=zz\n\n[Win_Size]\nwidth = "
         "\"900\"\n[WIN_SIZE]\nHeight=1\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds CORPUS_DIR\n");
        return 2;
    }
    fuzz::QuietOperatorMessages();
    g_root = argv[1];
    UsbSeeds();
    NetSeeds();
    DiscoverySeeds();
    MovraSeeds();
    IniSeeds();
    std::printf("fuzz_make_seeds: %d seeds in %s\n", g_written, argv[1]);
    return 0;
}
