// Keyboard and gamepad PTZ: from the key or stick event to the command the
// camera has taken, over the HID link and through the network SDK to
// in-process simulated cameras on loopback (run it inside scripts/netns-run).
// A key's command goes out while the event is handled; a stick movement
// crosses the reader thread's poll and the hand-over to the GUI thread first.
#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BenchStats.h"
#include "CPtzCtrl.h"
#include "CPtzKeys.h"
#include "CUSBDevice.h"
#include "CameraModel.h"
#include "Camsim.h"
#include "NetCommands.h"
#include "PELION_SDK.h"
#include "UsbSim.h"
#ifdef STREVO_HAVE_SDL2
#include <SDL.h>

#include "CPtzGamepad.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

double Us(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::micro>(b - a).count();
}

void Print(const char* what, const std::vector<double>& us) {
    std::printf("  %-34s median %8.1f   p99 %8.1f   (%zu)\n", what, Percentile(us, 0.5),
                Percentile(us, 0.99), us.size());
}

// Press and release of the up arrow, each timed from the event to its return:
// by then the camera has answered the command.
std::vector<double> Keys(QWidget* window, const camsim::CameraModel& model, int rounds) {
    std::vector<double> us;
    for (int i = 0; i < rounds; ++i) {
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent e(type, Qt::Key_Up, Qt::NoModifier);
            const auto t0 = Clock::now();
            QApplication::sendEvent(window, &e);
            us.push_back(Us(t0, Clock::now()));
        }
    }
    const auto log = model.PtzLog();
    if (log.empty() || log.back().action != "Stop")
        std::fprintf(stderr, "bench_ptz_input: the camera did not take the keys' commands\n");
    return us;
}

#ifdef STREVO_HAVE_SDL2
// The stick between two speed steps: every movement is one new command.
std::vector<double> Stick(SDL_Joystick* joy, const camsim::CameraModel& model, int rounds) {
    std::vector<double> us;
    const Sint16 values[] = {static_cast<Sint16>(32767 * 0.45), static_cast<Sint16>(32767 * 0.80)};
    for (int i = 0; i < rounds; ++i) {
        const auto before = model.PtzLog();
        const int lastH = before.empty() ? -1 : before.back().paramH;
        const auto t0 = Clock::now();
        SDL_JoystickSetVirtualAxis(joy, SDL_CONTROLLER_AXIS_LEFTX, values[i % 2]);
        const auto limit = t0 + std::chrono::seconds(2);
        QTimer wake;  // a stick that sends nothing still ends the wait
        wake.start(100);
        for (;;) {
            // Idle as the program is, until the reader's hand-over wakes it.
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            const auto log = model.PtzLog();
            if (!log.empty() && log.back().paramH != lastH) {
                us.push_back(Us(t0, Clock::now()));
                break;
            }
            if (Clock::now() > limit) {
                std::fprintf(stderr, "bench_ptz_input: a stick movement sent nothing\n");
                return us;
            }
        }
        QTest::qWait(3);  // an operator's stick, not a flood
    }
    return us;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    qputenv("SDL_JOYSTICK_HIDAPI", "0");
    QApplication app(argc, argv);
    const int kRounds = 300;

    // The cameras: one on the HID link, one network camera.
    auto usbModel = std::make_shared<camsim::CameraModel>("BENCH-USB");
    camsim::UsbCamera u;
    u.name = "BENCH-USB";
    u.model = "TV-U200";
    u.serial = "SN-BENCH";
    u.buildDate = "2026-10-01";
    u.state = usbModel;
    camsim::UsbSimServer usbServer;
    const int port = usbServer.Start({u});
    camsim::World world;
    camsim::NetCamera n;
    n.address = "127.78.0.3";
    n.name = "BENCH-NET";
    n.identity = "00:1A:2B:00:00:03";
    n.model = std::make_shared<camsim::CameraModel>(n.name);
    world.net.push_back(n);
    auto net = camsim::MakeNetModule();
    if (port <= 0 || !net->Start(world))
        return 1;
    strevo::CUSBDevice usb(strevo::MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
    usb.refreshSettleMs = 0;
    if (usb.RefreshDevices() != 1)
        return 1;
    PELION_Init(0);
    LoginInfo info = strevo::ProgramLoginInfo(n.address.c_str());
    const int32_t login = PELION_Login(info, nullptr, 0, 0, 0, 0);
    if (login < 0) {
        std::fprintf(stderr, "bench_ptz_input: login failed with %d\n", PELION_GetLastError());
        return 1;
    }

    QWidget window;
    auto* panel = new CPtzCtrl(&window);
    new CPtzKeys(panel, &window);
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window))
        return 1;
    const intptr_t usbTarget = reinterpret_cast<intptr_t>(usb.GetEntry(0).handle);

    std::printf("PTZ input to camera command over loopback, %d rounds (microseconds):\n", kRounds);
    panel->SetTarget(usbTarget, "", 0);
    Keys(&window, *usbModel, 20);  // warm up
    Print("key press/release, USB", Keys(&window, *usbModel, kRounds));
    panel->SetTarget(login, n.address.c_str(), PELION_DEFAULT_PORT);
    Keys(&window, *n.model, 20);
    Print("key press/release, network", Keys(&window, *n.model, kRounds));

#ifdef STREVO_HAVE_SDL2
    CPtzGamepad pad(panel, nullptr);
    if (!pad.Start(strevo::GamepadSettings{}))
        return 1;
    const int index = SDL_JoystickAttachVirtual(
        SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX, SDL_CONTROLLER_BUTTON_MAX, 0);
    SDL_Joystick* joy = index >= 0 ? SDL_JoystickOpen(index) : nullptr;
    if (!joy)
        return 1;
    const SDL_JoystickID id = SDL_JoystickInstanceID(joy);
    while (!SDL_GameControllerFromInstanceID(id)) QTest::qWait(5);
    panel->SetTarget(usbTarget, "", 0);
    Stick(joy, *usbModel, 20);
    Print("stick step change, USB", Stick(joy, *usbModel, kRounds));
    panel->SetTarget(login, n.address.c_str(), PELION_DEFAULT_PORT);
    Stick(joy, *n.model, 20);
    Print("stick step change, network", Stick(joy, *n.model, kRounds));
    SDL_JoystickClose(joy);
    SDL_JoystickDetachVirtual(index);
    pad.Stop();
#else
    std::printf("  (built without SDL2: no gamepad)\n");
#endif
    std::printf("target: median and p99 at most 5000\n");

    PELION_LogOut(login);
    PELION_Cleanup();
    net->Stop();
    usbServer.Stop();
    return 0;
}
