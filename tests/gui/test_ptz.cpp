// The PTZ panel against in-process simulated cameras over real sockets: a USB
// camera through the HID link and a network camera through the SDK.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CPtzCtrl.h"
#include "CUSBDevice.h"
#include "CameraModel.h"
#include "Camsim.h"
#include "DialogUnits.h"
#include "MessageRecorder.h"
#include "NetCommands.h"
#include "OperatorMessages.h"
#include "PELION_SDK.h"
#include "UsbSim.h"

using strevo::FindControl;

namespace {

// Its own loopback address, so other test programs may run camsim's network
// cameras at the same time.
constexpr char kNetAddress[] = "127.0.0.77";

// One PTZ command as "PtzCmd ParamH ParamV", so failures print readably.
QString Sent(const char* action, int h, int v) {
    return QStringLiteral("%1 %2 %3").arg(QLatin1String(action)).arg(h).arg(v);
}

}  // namespace

class TestPtz : public QObject {
    Q_OBJECT

    camsim::World world_;
    std::shared_ptr<camsim::CameraModel> usbModel_, netModel_;
    std::unique_ptr<camsim::UsbSimServer> usbServer_;
    std::unique_ptr<camsim::Module> netModule_;
    std::unique_ptr<strevo::CUSBDevice> usb_;
    int32_t login_ = -1;
    std::unique_ptr<CPtzCtrl> panel_;

    intptr_t UsbTarget() const { return reinterpret_cast<intptr_t>(usb_->GetEntry(0).handle); }

    // What each camera took since the mark.
    size_t usbMark_ = 0, netMark_ = 0;
    void Mark() {
        usbMark_ = usbModel_->PtzLog().size();
        netMark_ = netModel_->PtzLog().size();
    }
    static QStringList Since(const camsim::CameraModel& m, size_t mark) {
        QStringList out;
        auto log = m.PtzLog();
        for (size_t i = mark; i < log.size(); ++i)
            out << Sent(log[i].action.c_str(), log[i].paramH, log[i].paramV);
        return out;
    }
    QStringList UsbSent() const { return Since(*usbModel_, usbMark_); }
    QStringList NetSent() const { return Since(*netModel_, netMark_); }

    QPushButton* Button(int id) {
        return qobject_cast<QPushButton*>(FindControl(panel_.get(), id));
    }
    QSlider* Slider() { return qobject_cast<QSlider*>(FindControl(panel_.get(), 1454)); }
    void Press(int id) { QTest::mousePress(Button(id), Qt::LeftButton); }
    void Release(int id) { QTest::mouseRelease(Button(id), Qt::LeftButton); }
    void Click(int id) {
        Press(id);
        Release(id);
    }

  private slots:
    void initTestCase() {
        usbModel_ = std::make_shared<camsim::CameraModel>("usb ptz");
        netModel_ = std::make_shared<camsim::CameraModel>("net ptz");
        camsim::UsbCamera u;
        u.name = "usb ptz";
        u.model = "TV-U200";
        u.serial = "SN-PTZ";
        u.buildDate = "2026-10-01";
        u.state = usbModel_;
        world_.usb.push_back(u);
        camsim::NetCamera n;
        n.address = kNetAddress;
        n.name = "net ptz";
        n.identity = "00:1A:2B:00:00:77";
        n.model = netModel_;
        world_.net.push_back(n);

        usbServer_ = std::make_unique<camsim::UsbSimServer>();
        int port = usbServer_->Start(world_.usb);
        QVERIFY(port > 0);
        netModule_ = camsim::MakeNetModule();
        QVERIFY(netModule_->Start(world_));

        usb_ = std::make_unique<strevo::CUSBDevice>(
            strevo::MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
        usb_->refreshSettleMs = 0;
        QCOMPARE(usb_->RefreshDevices(), 1);

        QCOMPARE(PELION_Init(0), 0);
        LoginInfo info = strevo::ProgramLoginInfo(kNetAddress);
        char deviceInfo[PELION_DEVICE_INFO_SIZE] = {};
        login_ = PELION_Login(info, deviceInfo, 0, 0, 0, 0);
        QVERIFY2(login_ >= 0, qPrintable(QString::number(PELION_GetLastError())));
    }

    void cleanupTestCase() {
        if (login_ >= 0)
            PELION_LogOut(login_);
        PELION_Cleanup();
        usb_.reset();
        if (netModule_)
            netModule_->Stop();
        if (usbServer_)
            usbServer_->Stop();
    }

    void init() {
        panel_ = std::make_unique<CPtzCtrl>();
        panel_->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
        Mark();
    }
    void cleanup() { panel_.reset(); }

    void sliderAndLabel() {
        QSlider* s = Slider();
        auto* label = qobject_cast<QLabel*>(FindControl(panel_.get(), 1455));
        QCOMPARE(s->minimum(), 1);
        QCOMPARE(s->maximum(), 8);
        QCOMPARE(s->tickInterval(), 1);
        QVERIFY(s->tickPosition() != QSlider::NoTicks);
        QCOMPARE(s->value(), 5);
        QCOMPARE(label->text(), QStringLiteral("5"));
        for (int pos : {1, 8, 3}) {
            s->setValue(pos);
            QCOMPARE(label->text(), QString::number(pos));
        }
        // Keyboard steps move the label too.
        s->setFocus();
        QTest::keyClick(s, Qt::Key_Right);
        QCOMPARE(label->text(), QStringLiteral("4"));
        QVERIFY(!FindControl(panel_.get(), 1242)->isEnabled());  // "3D"
    }

    // Each button's press and release as the camera takes them, at the three
    // speeds that bound the tables, over both transports.
    void actionsAtSpeeds_data() {
        QTest::addColumn<bool>("network");
        QTest::addColumn<int>("pos");
        QTest::addColumn<int>("s");
        for (bool net : {false, true}) {
            const char* path = net ? "network" : "usb";
            QTest::addRow("%s at 1", path) << net << 1 << 0;
            QTest::addRow("%s at 5", path) << net << 5 << 26;
            QTest::addRow("%s at 8", path) << net << 8 << 63;
        }
    }
    void actionsAtSpeeds() {
        QFETCH(bool, network);
        QFETCH(int, pos);
        QFETCH(int, s);
        if (network)
            QCOMPARE(panel_->SetTarget(login_, kNetAddress, PELION_DEFAULT_PORT), 0);
        else
            QCOMPARE(panel_->SetTarget(UsbTarget(), "", 0), 0);
        Slider()->setValue(pos);
        const int p = pos - 1;
        const QString stop = Sent("Stop", 0, 0);
        const std::vector<std::pair<int, QStringList>> cases = {
            {1238, {Sent("LeftUp", s, s), stop}},
            {1239, {Sent("Up", 0, s), stop}},
            {1240, {Sent("RightUp", s, s), stop}},
            {1241, {Sent("Left", s, 0), stop}},
            {1243, {Sent("Right", s, 0), stop}},
            {1244, {Sent("LeftDown", s, s), stop}},
            {1245, {Sent("Down", 0, s), stop}},
            {1246, {Sent("RightDown", s, s), stop}},
            {1247, {Sent("ZoomWide", p, p), stop, Sent("ZoomStop", 0, 0)}},
            {1248, {Sent("ZoomTele", p, p), stop, Sent("ZoomStop", 0, 0)}},
            {1249, {Sent("FocusNear", p, p), stop, Sent("FocusStop", 0, 0)}},
            {1250, {Sent("FocusFar", p, p), stop, Sent("FocusStop", 0, 0)}},
            {1251, {Sent("IrisClose", 0, 0), stop}},
            {1252, {Sent("IrisOpen", 0, 0), stop}},
        };
        for (const auto& [id, want] : cases) {
            Mark();
            Click(id);
            QCOMPARE(network ? NetSent() : UsbSent(), want);
            QVERIFY((network ? UsbSent() : NetSent()).empty());
        }
        if (!network) {
            // Every USB request is the PTZ command carrying the text with its NUL.
            std::string last = usbServer_->LastPayload(0);
            QVERIFY(!last.empty() && last.back() == '\0');
            QVERIFY(last.find("\"ZoomStop\"") == std::string::npos);
            QVERIFY(last.find("\"PtzCmd\":\"Stop\"") != std::string::npos);
            for (uint32_t cmd : usbServer_->ReceivedCommands(0)) {
                if (cmd != strevo::kCmdGetDeviceInfo)
                    QCOMPARE(cmd, strevo::kCmdPtzCtrl);
            }
        }
    }

    void heldButtonAndFocus() {
        panel_->SetTarget(UsbTarget(), "", 0);
        QPushButton* up = Button(1239);
        Press(1239);
        QVERIFY(up->isDown());  // the press still reaches the button
        QCOMPARE(UsbSent(), QStringList{Sent("Up", 0, 26)});
        QTest::qWait(20);  // the focus clean-up is queued
        QVERIFY(!qobject_cast<QPushButton*>(QApplication::focusWidget()));
        Release(1239);
        QVERIFY(!up->isDown());
        // A button given focus by hand loses it at the next press.
        Button(1248)->setFocusPolicy(Qt::StrongFocus);
        Button(1248)->setFocus();
        QTRY_VERIFY(Button(1248)->hasFocus());
        Click(1241);
        QTRY_VERIFY(!Button(1248)->hasFocus());
    }

    // The platform turns a quick second press into a double click; it must
    // still start the action, or the release would stop a move never begun.
    void quickSecondPress() {
        panel_->SetTarget(UsbTarget(), "", 0);
        QPushButton* b = Button(1245);
        QPoint at = b->mapTo(panel_.get(), b->rect().center());
        QTest::mouseDClick(panel_->windowHandle(), Qt::LeftButton, {}, at);
        const QString down = Sent("Down", 0, 26), stop = Sent("Stop", 0, 0);
        QCOMPARE(UsbSent(), (QStringList{down, stop, down, stop}));
    }

    void noTargetSendsNothing() {
        const size_t usbRequests = usbServer_->ReceivedCommands(0).size();
        for (int id : {1239, 1248, 1251}) Click(id);
        panel_->SetTarget(login_, kNetAddress, PELION_DEFAULT_PORT);
        panel_->SetTarget(-1, kNetAddress, PELION_DEFAULT_PORT);
        Click(1240);
        panel_->SetTarget(-1, "", 0);
        Click(1250);
        QVERIFY(UsbSent().empty());
        QVERIFY(NetSent().empty());
        QCOMPARE(usbServer_->ReceivedCommands(0).size(), usbRequests);
    }

    void unreachableCameraIsSilent() {
        MessageRecorder messages;
        // Nothing listens on either: one refused port, one address without a camera.
        panel_->SetTarget(login_, kNetAddress, PELION_DEFAULT_PORT + 1);
        Click(1248);
        panel_->SetTarget(login_, "127.0.0.78", PELION_DEFAULT_PORT);
        Click(1239);
        QVERIFY(NetSent().empty());
        QVERIFY(messages.texts.empty());
        for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY(!qobject_cast<QMessageBox*>(w));
        // The panel carries on once the camera is back.
        panel_->SetTarget(login_, kNetAddress, PELION_DEFAULT_PORT);
        Click(1252);
        QCOMPARE(NetSent(), (QStringList{Sent("IrisOpen", 0, 0), Sent("Stop", 0, 0)}));
    }

    void oversizedAnswersOnAZoomRelease() {
        // A camera whose answers exceed the 512-byte buffer: both release texts
        // still go out, and the second call is never told the buffer is larger.
        auto model = std::make_shared<camsim::CameraModel>("padded");
        camsim::World world;
        camsim::NetCamera n;
        n.address = "127.0.0.79";
        n.name = "padded";
        n.identity = "00:1A:2B:00:00:79";
        n.model = model;
        world.net.push_back(n);
        auto module = camsim::MakeNetModule();
        char opt[] = "--net-answer-pad", value[] = "2000";
        char* argv[] = {opt, value};
        QCOMPARE(module->ParseOption(2, argv, 0), 2);
        QVERIFY(module->Start(world));
        LoginInfo info = strevo::ProgramLoginInfo(n.address.c_str());
        int32_t login = PELION_Login(info, nullptr, 0, 0, 0, 0);
        QVERIFY(login >= 0);
        panel_->SetTarget(login, n.address.c_str(), PELION_DEFAULT_PORT);
        Click(1248);
        QCOMPARE(Since(*model, 0),
                 (QStringList{Sent("ZoomTele", 4, 4), Sent("Stop", 0, 0), Sent("ZoomStop", 0, 0)}));
        PELION_LogOut(login);
        module->Stop();
    }

    void stopGoesToCurrentTarget() {
        panel_->SetTarget(UsbTarget(), "", 0);
        Press(1241);
        panel_->SetTarget(login_, kNetAddress, PELION_DEFAULT_PORT);
        Release(1241);
        QCOMPARE(UsbSent(), QStringList{Sent("Left", 26, 0)});
        QCOMPARE(NetSent(), QStringList{Sent("Stop", 0, 0)});
        QCOMPARE(QString(panel_->TargetAddress()), QString(kNetAddress));
        // Long address texts are cut to 31 characters.
        panel_->SetTarget(-1, std::string(40, '9').c_str(), 1);
        QCOMPARE(std::strlen(panel_->TargetAddress()), size_t(31));
    }
};

QTEST_MAIN(TestPtz)
#include "test_ptz.moc"
