// Keyboard and gamepad PTZ against a simulated USB camera over the HID link:
// what the camera takes for each key and stick movement. The gamepad is SDL's
// virtual game controller, read by the program's own reader thread.
#include <QApplication>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QVBoxLayout>
#include <memory>
#include <string>
#include <vector>

#include "CPtzCtrl.h"
#include "CPtzKeys.h"
#include "CUSBDevice.h"
#include "CameraModel.h"
#include "UsbSim.h"
#ifdef STREVO_HAVE_SDL2
#include <SDL.h>

#include "CPtzGamepad.h"
#endif

namespace {

QString Sent(const char* action, int h, int v) {
    return QStringLiteral("%1 %2 %3").arg(QLatin1String(action)).arg(h).arg(v);
}

}  // namespace

class TestPtzInput : public QObject {
    Q_OBJECT

    std::shared_ptr<camsim::CameraModel> model_;
    std::unique_ptr<camsim::UsbSimServer> server_;
    std::unique_ptr<strevo::CUSBDevice> usb_;
    std::unique_ptr<QWidget> window_;
    CPtzCtrl* panel_ = nullptr;
    QSpinBox* spin_ = nullptr;
    QLineEdit* edit_ = nullptr;
    size_t mark_ = 0;

    void Mark() { mark_ = model_->PtzLog().size(); }
    QStringList Taken() const {
        QStringList out;
        auto log = model_->PtzLog();
        for (size_t i = mark_; i < log.size(); ++i)
            out << Sent(log[i].action.c_str(), log[i].paramH, log[i].paramV);
        return out;
    }
    // A key as the window system delivers it: to the focus widget, through
    // the application's filters.
    static void Key(bool press, int key, Qt::KeyboardModifiers mods = {}, bool repeat = false) {
        QWidget* to = QApplication::focusWidget();
        QVERIFY(to);
        QKeyEvent e(press ? QEvent::KeyPress : QEvent::KeyRelease, key, mods, QString(), repeat);
        QApplication::sendEvent(to, &e);
    }

  private slots:
    void initTestCase() {
        model_ = std::make_shared<camsim::CameraModel>("usb keys");
        camsim::UsbCamera u;
        u.name = "usb keys";
        u.model = "TV-U200";
        u.serial = "SN-KEYS";
        u.buildDate = "2026-10-01";
        u.state = model_;
        server_ = std::make_unique<camsim::UsbSimServer>();
        const int port = server_->Start({u});
        QVERIFY(port > 0);
        usb_ = std::make_unique<strevo::CUSBDevice>(
            strevo::MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
        usb_->refreshSettleMs = 0;
        QCOMPARE(usb_->RefreshDevices(), 1);

        window_ = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window_.get());
        panel_ = new CPtzCtrl;
        spin_ = new QSpinBox;
        edit_ = new QLineEdit;
        layout->addWidget(panel_);
        layout->addWidget(spin_);
        layout->addWidget(edit_);
        new CPtzKeys(panel_, window_.get());
        panel_->SetTarget(reinterpret_cast<intptr_t>(usb_->GetEntry(0).handle), "", 0);
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }

    void cleanupTestCase() {
        window_.reset();
        usb_.reset();
        server_->Stop();
    }

    void init() {
        panel_->SetSpeed(5);
        panel_->setEnabled(true);
        window_->setFocus();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        Mark();
    }

    // Every key against the action its button sends, at the panel's speed.
    void keysDriveTheButtons_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("keypad");
        QTest::addColumn<QStringList>("want");
        const QString stop = Sent("Stop", 0, 0);
        const QStringList zoomStop{stop, Sent("ZoomStop", 0, 0)};
        const QStringList focusStop{stop, Sent("FocusStop", 0, 0)};
        struct Row {
            const char* name;
            int key;
            bool keypad;
            QStringList want;
        };
        const Row rows[] = {
            {"up", Qt::Key_Up, false, {Sent("Up", 0, 26), stop}},
            {"down", Qt::Key_Down, false, {Sent("Down", 0, 26), stop}},
            {"left", Qt::Key_Left, false, {Sent("Left", 26, 0), stop}},
            {"right", Qt::Key_Right, false, {Sent("Right", 26, 0), stop}},
            {"pad 7", Qt::Key_7, true, {Sent("LeftUp", 26, 26), stop}},
            {"pad 9", Qt::Key_9, true, {Sent("RightUp", 26, 26), stop}},
            {"pad 1", Qt::Key_1, true, {Sent("LeftDown", 26, 26), stop}},
            {"pad 3", Qt::Key_3, true, {Sent("RightDown", 26, 26), stop}},
            {"pad 8", Qt::Key_8, true, {Sent("Up", 0, 26), stop}},
            {"pad 4", Qt::Key_4, true, {Sent("Left", 26, 0), stop}},
            {"pad home", Qt::Key_Home, true, {Sent("LeftUp", 26, 26), stop}},
            {"pad page down", Qt::Key_PageDown, true, {Sent("RightDown", 26, 26), stop}},
            {"plus", Qt::Key_Plus, false, QStringList{Sent("ZoomTele", 4, 4)} + zoomStop},
            {"equal", Qt::Key_Equal, false, QStringList{Sent("ZoomTele", 4, 4)} + zoomStop},
            {"minus", Qt::Key_Minus, false, QStringList{Sent("ZoomWide", 4, 4)} + zoomStop},
            {"pad minus", Qt::Key_Minus, true, QStringList{Sent("ZoomWide", 4, 4)} + zoomStop},
            {"page up", Qt::Key_PageUp, false, QStringList{Sent("FocusFar", 4, 4)} + focusStop},
            {"page down", Qt::Key_PageDown, false,
             QStringList{Sent("FocusNear", 4, 4)} + focusStop},
            {"digit off the pad", Qt::Key_8, false, {}},
            {"pad 5", Qt::Key_5, true, {}},
        };
        for (const Row& r : rows) QTest::newRow(r.name) << r.key << r.keypad << r.want;
    }
    void keysDriveTheButtons() {
        QFETCH(int, key);
        QFETCH(bool, keypad);
        QFETCH(QStringList, want);
        const Qt::KeyboardModifiers mods = keypad ? Qt::KeypadModifier : Qt::NoModifier;
        Key(true, key, mods);
        QCOMPARE(Taken().size(), want.isEmpty() ? 0 : 1);
        Key(false, key, mods);
        QCOMPARE(Taken(), want);
    }

    void heldKeyAndAutoRepeat() {
        Key(true, Qt::Key_Left);
        for (int i = 0; i < 10; ++i) {
            Key(false, Qt::Key_Left, {}, true);
            Key(true, Qt::Key_Left, {}, true);
        }
        QCOMPARE(Taken(), QStringList{Sent("Left", 26, 0)});
        Key(false, Qt::Key_Left);
        Key(false, Qt::Key_Left);  // a stray second release
        QCOMPARE(Taken(), (QStringList{Sent("Left", 26, 0), Sent("Stop", 0, 0)}));

        // A second key takes over: the first is released once, and only once.
        Mark();
        Key(true, Qt::Key_Up);
        Key(true, Qt::Key_Plus);
        Key(false, Qt::Key_Up);
        Key(false, Qt::Key_Plus);
        QCOMPARE(Taken(),
                 (QStringList{Sent("Up", 0, 26), Sent("Stop", 0, 0), Sent("ZoomTele", 4, 4),
                              Sent("Stop", 0, 0), Sent("ZoomStop", 0, 0)}));
    }

    void speedKeys() {
        for (int i = 0; i < 3; ++i) Key(true, Qt::Key_BracketRight);
        Key(true, Qt::Key_BracketRight, {}, true);  // repeats do not count
        QCOMPARE(panel_->Speed(), 8);
        Key(true, Qt::Key_Right);
        Key(false, Qt::Key_Right);
        for (int i = 0; i < 9; ++i) Key(true, Qt::Key_BracketLeft);
        QCOMPARE(panel_->Speed(), 1);
        Key(true, Qt::Key_Minus);
        Key(false, Qt::Key_Minus);
        QCOMPARE(Taken(),
                 (QStringList{Sent("Right", 63, 0), Sent("Stop", 0, 0), Sent("ZoomWide", 0, 0),
                              Sent("Stop", 0, 0), Sent("ZoomStop", 0, 0)}));
    }

    void focusToAnotherWindowReleases() {
        Key(true, Qt::Key_Down);
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QCOMPARE(Taken(), (QStringList{Sent("Down", 0, 26), Sent("Stop", 0, 0)}));
        // The key's own release, delivered late, sends nothing more.
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        Key(false, Qt::Key_Down);
        QCOMPARE(Taken().size(), 2);
    }

    void textAndNumberFieldsKeepTheirKeys() {
        spin_->setValue(5);
        spin_->setFocus();
        QTRY_VERIFY(spin_->hasFocus());
        QTest::keyClick(spin_, Qt::Key_Up);
        QTest::keyClick(spin_, Qt::Key_PageUp);
        QCOMPARE(spin_->value(), 16);  // one step and one page of ten
        edit_->setFocus();
        QTRY_VERIFY(edit_->hasFocus());
        QTest::keyClicks(edit_, "+-[]");
        QCOMPARE(edit_->text(), QStringLiteral("+-[]"));
        QCOMPARE(panel_->Speed(), 5);
        QVERIFY(Taken().isEmpty());
        // A key held before the focus moved into a field still gets its release.
        window_->setFocus();
        QTRY_VERIFY(window_->hasFocus());
        Key(true, Qt::Key_Up);
        spin_->setFocus();
        QTRY_VERIFY(spin_->hasFocus());
        Key(false, Qt::Key_Up);
        QCOMPARE(Taken(), (QStringList{Sent("Up", 0, 26), Sent("Stop", 0, 0)}));
    }

    void greyedPanelTakesNoKeys() {
        panel_->setEnabled(false);
        Key(true, Qt::Key_Up);
        Key(false, Qt::Key_Up);
        QVERIFY(Taken().isEmpty());
    }

#ifdef STREVO_HAVE_SDL2
    // The stick's ramp, dead zone and unplugging through SDL's virtual device.
    void gamepad() {
        CPtzGamepad pad(panel_, nullptr);
        std::vector<int> paneSteps;
        pad.onPaneStep = [&](int d) { paneSteps.push_back(d); };
        QVERIFY(pad.Start(strevo::GamepadSettings{}));
        const int index =
            SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                      SDL_CONTROLLER_BUTTON_MAX, 0);
        QVERIFY2(index >= 0, SDL_GetError());
        SDL_Joystick* joy = SDL_JoystickOpen(index);
        QVERIFY2(joy, SDL_GetError());
        const SDL_JoystickID id = SDL_JoystickInstanceID(joy);
        // The reader has opened it as a game controller.
        QTRY_VERIFY(SDL_GameControllerFromInstanceID(id) != nullptr);

        auto axis = [&](SDL_GameControllerAxis a, double fraction) {
            SDL_JoystickSetVirtualAxis(joy, a, static_cast<Sint16>(fraction * 32767));
        };
        // Inside the 15 % dead zone: nothing.
        axis(SDL_CONTROLLER_AXIS_LEFTX, 0.10);
        QTest::qWait(100);
        QVERIFY(Taken().isEmpty());
        // Out to full travel, two values within each of the eight steps.
        const int speeds[] = {0, 4, 8, 15, 26, 46, 52, 63};
        QStringList want;
        for (int step = 1; step <= 8; ++step) {
            for (double within : {0.35, 0.65}) {
                axis(SDL_CONTROLLER_AXIS_LEFTX, 0.15 + 0.85 * (step - 1 + within) / 8);
                QTest::qWait(10);
            }
            want << Sent("Right", speeds[step - 1], 0);
            QTRY_COMPARE(Taken(), want);
        }
        axis(SDL_CONTROLLER_AXIS_LEFTX, 0.05);
        want << Sent("Stop", 0, 0);
        QTRY_COMPARE(Taken(), want);
        axis(SDL_CONTROLLER_AXIS_LEFTX, 0.0);
        QTest::qWait(50);
        QCOMPARE(Taken(), want);

        // Triggers and the D-pad use the panel's speed; the shoulders pick panes.
        Mark();
        axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 1.0);
        QTRY_COMPARE(Taken().size(), 1);
        axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -1.0);  // a trigger's rest is the axis' minimum
        SDL_JoystickSetVirtualButton(joy, SDL_CONTROLLER_BUTTON_DPAD_DOWN, 1);
        SDL_JoystickSetVirtualButton(joy, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 1);
        QTRY_COMPARE(Taken(), (QStringList{Sent("ZoomTele", 4, 4), Sent("Stop", 0, 0),
                                           Sent("ZoomStop", 0, 0), Sent("FocusNear", 4, 4)}));
        SDL_JoystickSetVirtualButton(joy, SDL_CONTROLLER_BUTTON_DPAD_DOWN, 0);
        SDL_JoystickSetVirtualButton(joy, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 0);
        QTRY_COMPARE(Taken().size(), 6);
        SDL_JoystickSetVirtualButton(joy, SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 1);
        QTRY_COMPARE(paneSteps, (std::vector<int>{1, -1}));

        // Unplugged while the stick is held: one stop.
        Mark();
        axis(SDL_CONTROLLER_AXIS_LEFTY, -1.0);
        QTRY_COMPARE(Taken(), QStringList{Sent("Up", 0, 63)});
        SDL_JoystickClose(joy);
        QCOMPARE(SDL_JoystickDetachVirtual(index), 0);
        QTRY_COMPARE(Taken(), (QStringList{Sent("Up", 0, 63), Sent("Stop", 0, 0)}));
        QTest::qWait(50);
        QCOMPARE(Taken().size(), 2);
    }
#endif
};

int main(int argc, char** argv) {
    // SDL's virtual controller only: no hidraw devices, no video.
    qputenv("SDL_JOYSTICK_HIDAPI", "0");
    qputenv("SDL_VIDEODRIVER", "dummy");
    QApplication app(argc, argv);
    TestPtzInput test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_ptz_input.moc"
