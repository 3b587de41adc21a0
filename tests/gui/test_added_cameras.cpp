// Cameras added by address: the add dialog, the tree's root for them, what
// toolscfg.ini keeps (never a password), opening one in a pane, and a pane
// whose RTSP camera does not answer: its states, "配置" and the PTZ panel on
// it, and a close in the middle of a retry wait.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>
#include <string>

#include "CAddCameraDlg.h"
#include "CAddedCameras.h"
#include "CPaneStream.h"
#include "CPreviewPane.h"
#include "CPtzCtrl.h"
#include "CTivanoDlg.h"
#include "Camsim.h"
#include "MessageRecorder.h"
#include "ShowsVideo.h"
#include "SimNetCameras.h"

using namespace strevo;

namespace {

QString FileText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString AllLogs(const std::string& dir) {
    QString text;
    QDir d(QString::fromStdString(dir));
    for (const QFileInfo& f : d.entryInfoList(QDir::Files)) text += FileText(f.filePath());
    return text;
}

}  // namespace

class TestAddedCameras : public QObject {
    Q_OBJECT

  private:
    MessageRecorder m_messages;
    std::unique_ptr<SimNetCameras> m_sdk;
    QTemporaryDir m_dir;
    std::string ModuleDir() const { return m_dir.path().toStdString() + "/"; }

  private slots:
    void initTestCase() {
        m_sdk = std::make_unique<SimNetCameras>(
            1, "127.0.0.2", std::vector<std::string>{"--net-video", "320x180@15"});
        QVERIFY(m_sdk->Started());
        qputenv("STREVO_NO_KEYCHAIN", "1");
    }
    void cleanupTestCase() { m_sdk.reset(); }
    void init() { m_messages.texts.clear(); }

    // The dialog refuses what is no address and says why; a URL with
    // credentials in it leaves them in the fields' place.
    void dialogChecksWhatIsTyped() {
        CAddCameraDlg dlg(nullptr, false);
        QVERIFY(!dlg.RememberBox()->isEnabled());  // no credential store answers here
        dlg.AddressEdit()->setText(QStringLiteral("127.0.0"));
        dlg.accept();
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(!dlg.ErrorText()->isHidden());
        QVERIFY(dlg.ErrorText()->text().contains(QStringLiteral("地址格式不正确")));
        QTest::keyClicks(dlg.AddressEdit(), QStringLiteral("x"));
        dlg.AddressEdit()->clear();
        QTest::keyClicks(dlg.AddressEdit(), QStringLiteral("rtsp://op:pw@127.0.0.9:8554/live"));
        QCOMPARE(dlg.KindBox()->currentIndex(), 1);  // a URL makes it an RTSP camera
        dlg.accept();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.Camera().address, std::string("rtsp://127.0.0.9:8554/live"));
        QCOMPARE(dlg.Camera().user, std::string("op"));
        QCOMPARE(dlg.Password(), std::string("pw"));

        // An http:// address is an ONVIF camera's device service.
        dlg.AddressEdit()->clear();
        QTest::keyClicks(dlg.AddressEdit(), QStringLiteral("http://127.0.0.9:8080/onvif/device_service"));
        QCOMPARE(dlg.KindBox()->currentData().toInt(), int(CameraKind::kOnvif));
        dlg.accept();
        QCOMPARE(dlg.Camera().kind, CameraKind::kOnvif);
    }

    // Added, kept across a restart without the password, opened, removed.
    void addOpenRemove() {
        const char* secret = "Geheim-7731";
        {
            CTivanoDlg d(ModuleDir());
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            CAddedCameras* added = d.AddedCameras();
            QVERIFY(!added->Root()->isHidden());
            AddedCamera sdk;
            sdk.address = m_sdk->Address(0);
            QVERIFY(added->Add(sdk, "", false));
            AddedCamera rtsp;
            rtsp.kind = CameraKind::kRtsp;
            rtsp.address = "rtsp://127.0.0.9:8554/main";  // nothing answers there
            rtsp.user = "admin";
            QVERIFY(added->Add(rtsp, secret, false));
            QVERIFY(added->Add(rtsp, secret, false));  // the same again: no second entry
            QCOMPARE(added->Cameras().size(), size_t(2));
            QCOMPARE(added->Root()->childCount(), 2);

            // The SDK camera opens as a discovered one does and plays.
            d.Tree()->setCurrentItem(added->ItemOf(0));
            d.OnTreeDoubleClick();
            QVERIFY(d.Pane(0).login >= 0);
            QTRY_VERIFY_WITH_TIMEOUT(!d.PanePicture(0)->Picture().isNull(), 10000);

            // The RTSP camera takes the next pane and shows how its connection goes.
            d.Tree()->setCurrentItem(added->ItemOf(1));
            d.OnTreeDoubleClick();
            QCOMPARE(d.SelectedPane(), 1);
            QVERIFY(d.Pane(1).Occupied());
            QTRY_VERIFY_WITH_TIMEOUT(
                d.PanePicture(1)->State().startsWith(QStringLiteral("已断开，")), 10000);
            QVERIFY(d.PanePicture(1)->State().endsWith(QStringLiteral("秒后重试")));
            QVERIFY(!d.Ptz()->isEnabled());
            QCOMPARE(d.Ptz()->toolTip(), QStringLiteral("该设备不支持参数配置"));
            d.OnConfig();
            QCOMPARE(m_messages.texts, std::vector<std::string>{"该设备不支持参数配置"});

            // USB mode while that pane is selected: the USB cameras get the panel back.
            d.OnModeUsb();
            QVERIFY(d.Ptz()->isEnabled());
            d.OnModeIp();
            d.Tree()->setCurrentItem(added->ItemOf(1));
            d.OnTreeDoubleClick();
            QTRY_VERIFY_WITH_TIMEOUT(
                d.PanePicture(d.SelectedPane())->State().startsWith(QStringLiteral("已断开，")),
                10000);
            QCOMPARE(d.SelectedPane(), 1);
            QVERIFY(!d.Ptz()->isEnabled());

            // A close in the middle of a retry wait ends it at once.
            QElapsedTimer t;
            t.start();
            QCOMPARE(d.ContextMenuAt(d.PaneControl(1)->geometry().center()), d.VideoMenu());
            d.OnCloseVideo();
            QVERIFY(t.elapsed() < 2000);  // a bound on the close, not a speed target
            QVERIFY(!d.Pane(1).Occupied());
            QVERIFY(d.PanePicture(1)->State().isEmpty());
            d.SelectPane(0);
            QVERIFY(d.Ptz()->isEnabled());

            // USB mode hides the root and its menu items.
            d.OnModeUsb();
            QVERIFY(added->Root()->isHidden());
            QVERIFY(!added->AddAction()->isVisible());
            d.OnModeIp();
            QVERIFY(!added->Root()->isHidden());
        }
        const QString ini = QString::fromStdString(ModuleDir()) + "toolscfg.ini";
        const QString text = FileText(ini);
        QVERIFY(text.contains(QStringLiteral("[CAMERAS]")));
        QVERIFY(text.contains(QStringLiteral("rtsp,admin,rtsp://127.0.0.9:8554/main")));
        QVERIFY(!text.contains(QLatin1String(secret)));
        QVERIFY(!AllLogs(ModuleDir()).contains(QLatin1String(secret)));
        QVERIFY(!AllLogs(ModuleDir() + "APP_LOG").contains(QLatin1String(secret)));

        CTivanoDlg again(ModuleDir());
        CAddedCameras* added = again.AddedCameras();
        QCOMPARE(added->Cameras().size(), size_t(2));
        again.Tree()->setCurrentItem(added->ItemOf(0));
        added->OnRemove();
        QCOMPARE(added->Cameras().size(), size_t(1));
        QCOMPARE(added->Cameras()[0].kind, CameraKind::kRtsp);
        QVERIFY(!FileText(ini).contains(QString::fromStdString(m_sdk->Address(0)) + ","));
    }

    // camsim's RTSP cameras with their digest login: one plays, a wrong
    // password stops at the login, and one that drops its session after 3 s is
    // shown as disconnected and then plays again by itself.
    void rtspPanesThroughRefusalDropAndReconnect() {
        SimNetCameras cams(
            2, "127.0.4.2",
            {"--net-video", "320x180@15", "--rtsp-fault", "drop=3", "--rtsp-fault-camera", "2"},
            "RTSP-", &camsim::MakeRtspModule);
        QVERIFY2(cams.Started(), cams.BadOption().c_str());
        QTemporaryDir dir;
        CTivanoDlg d(dir.path().toStdString() + "/");
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        CAddedCameras* added = d.AddedCameras();
        auto add = [&](const std::string& url, const char* password) {
            AddedCamera c;
            c.kind = CameraKind::kRtsp;
            c.address = url;
            c.user = "admin";
            QVERIFY(added->Add(c, password, false));
            d.Tree()->setCurrentItem(added->ItemOf(added->Cameras().size() - 1));
            d.OnTreeDoubleClick();
        };
        const std::string good = "rtsp://" + cams.Address(0) + ":554/main";
        add(good, "quolt");
        QTRY_VERIFY_WITH_TIMEOUT(ShowsVideo(d, 0), 15000);
        QVERIFY(d.PanePicture(0)->State().isEmpty());

        AddedCamera wrong;
        wrong.kind = CameraKind::kRtsp;
        wrong.address = "rtsp://" + cams.Address(0) + ":554/sub";
        wrong.user = "admin";
        added->Add(wrong, "not-it", false);
        d.Tree()->setCurrentItem(added->ItemOf(1));
        d.OnTreeDoubleClick();
        QCOMPARE(d.SelectedPane(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(d.PanePicture(1)->State(), QStringLiteral("登录失败 错误码为-4"),
                                  10000);
        QVERIFY(ShowsVideo(d, 0));  // the other pane plays on

        add("rtsp://" + cams.Address(1) + ":554/main", "quolt");
        QCOMPARE(d.SelectedPane(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(ShowsVideo(d, 2), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(d.PanePicture(2)->State().startsWith(QStringLiteral("已断开，")),
                                 20000);
        QVERIFY(ShowsVideo(d, 2));  // the last picture stays under the state
        QTRY_VERIFY_WITH_TIMEOUT(d.PanePicture(2)->State().isEmpty(), 20000);
        const QImage before = d.PanePicture(2)->Picture();
        QTRY_VERIFY_WITH_TIMEOUT(d.PanePicture(2)->Picture() != before, 10000);
        QCOMPARE(m_messages.texts, std::vector<std::string>{});
        d.OnCloseAllVideo();
        for (int i = 0; i < 3; ++i) QVERIFY(!d.Pane(i).Occupied());
    }
};

QTEST_MAIN(TestAddedCameras)
#include "test_added_cameras.moc"
