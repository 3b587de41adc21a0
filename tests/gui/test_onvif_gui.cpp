// ONVIF cameras in the main window, against camsim's ONVIF side: found by
// WS-Discovery alone, played by a double-click, "配置" through the camera's
// imaging settings (rows without a setting stay disabled whatever the modes
// say), the PTZ panel sending one move and one stop per press, the preset
// list with Ctrl+1, and "重启设备".
// With STREVO_SHOT_DIR set, pictures of the window and the dialog go there.
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <string>

#include "CFocusTab.h"
#include "CImageParamsDlg.h"
#include "CPaneStream.h"
#include "CParamPage.h"
#include "CPreviewPane.h"
#include "CPtzCtrl.h"
#include "CPtzPresets.h"
#include "CTivanoDlg.h"
#include "Camsim.h"
#include "DialogUnits.h"
#include "MessageRecorder.h"
#include "ShowsVideo.h"
#include "SimNetCameras.h"

using namespace strevo;

namespace {

class Window : public CTivanoDlg {
  public:
    using CTivanoDlg::CTivanoDlg;
    std::function<void(CImageParamsDlg&)> onDialog;
    bool rebootAnswer = false;
    QString rebootQuestion;

  protected:
    void RunImageParamsDlg(IParamChannel* channel) override {
        CImageParamsDlg dlg(this);
        dlg.SetChannel(channel);
        dlg.OnInitDialog();
        dlg.show();
        if (onDialog)
            onDialog(dlg);
    }
    bool ConfirmReboot(const QString& question) override {
        rebootQuestion = question;
        return rebootAnswer;
    }
};

int Count(const std::vector<camsim::PtzCommand>& log, const char* action) {
    int n = 0;
    for (const auto& c : log) n += c.action == action;
    return n;
}

const char* First(const std::vector<std::string>& texts) {
    return texts.empty() ? "" : texts.front().c_str();
}

void Shoot(QWidget* w, const char* name) {
    const QByteArray dir = qgetenv("STREVO_SHOT_DIR");
    if (!dir.isEmpty())
        w->grab().save(QString::fromUtf8(dir) + "/" + name);
}

}  // namespace

class TestOnvifGui : public QObject {
    Q_OBJECT

  private:
    MessageRecorder m_messages;
    std::unique_ptr<SimNetCameras> m_cams;
    QTemporaryDir m_dir;

    const DeviceNode* Node(const CTivanoDlg& d) {
        for (const DeviceNode& n : d.Nodes())
            if (std::string(n.ip) == m_cams->Address(0))
                return &n;
        return nullptr;
    }

  private slots:
    void initTestCase() {
        // No discovery responder of ours runs here: the camera is known to
        // WS-Discovery alone.
        m_cams = std::make_unique<SimNetCameras>(
            1, "127.0.6.2",
            std::vector<std::string>{"--net-video", "320x180@15", "--onvif",
                                     "--onvif-port", "8080"},
            "IPC-", &camsim::MakeRtspModule, &camsim::MakeOnvifModule);
        QVERIFY2(m_cams->Started(), m_cams->BadOption().c_str());
        qputenv("STREVO_NO_KEYCHAIN", "1");
    }
    void cleanupTestCase() { m_cams.reset(); }

    void onvifCameraEndToEnd() {
        Window d(m_dir.path().toStdString() + "/");
        d.show();
        QTRY_VERIFY_WITH_TIMEOUT(Node(d) && !Node(d)->onvif.empty(), 10000);
        const DeviceNode* node = Node(d);
        QVERIFY(!node->sdk);
        QVERIFY(node->item->text(0).endsWith(QStringLiteral("(ONVIF)")));
        QVERIFY(node->onvif.find("127.0.6.2:8080") != std::string::npos);

        // A double-click plays the camera through its profile's stream.
        d.Tree()->setCurrentItem(node->item);
        d.OnTreeDoubleClick();
        QVERIFY(d.Pane(0).Occupied());
        QCOMPARE(d.Pane(0).stream->Camera().Kind(), CameraKind::kOnvif);
        QTRY_VERIFY_WITH_TIMEOUT(ShowsVideo(d, 0), 20000);
        QVERIFY2(m_messages.texts.empty(), First(m_messages.texts));

        // The panel drives the camera through ONVIF: one press, one release,
        // exactly one move and one stop.
        QTRY_VERIFY(!d.Presets()->isHidden());
        camsim::CameraModel& model = m_cams->Model(0);
        const auto before = model.PtzLog();
        QVERIFY(d.Ptz()->PressButton(CPtzCtrl::kRight, 8));
        d.Ptz()->ReleaseButton(CPtzCtrl::kRight);
        auto log = model.PtzLog();
        log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(before.size()));
        QCOMPARE(Count(log, "ContinuousMove"), 1);
        QCOMPARE(Count(log, "Stop"), 1);
        QCOMPARE(log.size(), size_t(2));
        QVERIFY(log[0].action == "ContinuousMove" && log[0].paramH == 1000 && log[0].paramV == 0);

        // Presets: "设置" with nothing chosen makes one, Ctrl+1 calls it,
        // "删除" asks first and removes it.
        CPtzPresets* presets = d.Presets();
        QCOMPARE(presets->List()->count(), 0);
        model.SetPosition(1200, -300, 400);
        presets->SetButton()->click();
        QCOMPARE(presets->List()->count(), 1);
        Shoot(&d, "onvif-pane.png");
        model.SetPosition(0, 0, 0);
        d.activateWindow();
        QTest::keyClick(&d, Qt::Key_1, Qt::ControlModifier);
        QTRY_COMPARE(model.Snapshot().pan, 1200);
        QCOMPARE(model.Snapshot().zoom, 400);
        bool asked = false;
        presets->confirm = [&asked](const QString&) {
            asked = true;
            return false;
        };
        presets->List()->setCurrentRow(0);
        presets->RemoveButton()->click();
        QVERIFY(asked);
        QCOMPARE(presets->List()->count(), 1);  // cancelled
        presets->confirm = [](const QString&) { return true; };
        presets->RemoveButton()->click();
        QCOMPARE(presets->List()->count(), 0);
        QVERIFY(!d.CallPreset(1));

        // "配置": the pages show the camera's imaging settings through the map.
        model.HandleJson(
            "{\"Cmd\":\"ReqSetVideoParam\",\"Content\":{\"VideoParam\":{\"Luminance\":61,"
            "\"eExposureMode\":0}}}");
        bool ran = false;
        d.onDialog = [&](CImageParamsDlg& dlg) {
            ran = true;
            CParamPage* picture = dlg.Page(CImageParamsDlg::kPicture);
            auto* luminance = qobject_cast<QSlider*>(FindControl(picture, 1473));
            QCOMPARE(luminance->value(), 61);
            QVERIFY(luminance->isEnabled());
            // Hue has no ONVIF setting: disabled, and so are defaults and the
            // focus near limit, which ONVIF has no call for.
            QVERIFY(picture->RowDisabledForGood("ucHue"));
            QVERIFY(!FindControl(picture, 1476)->isEnabled());
            QVERIFY(!dlg.RestoreButton()->isEnabled());
            QVERIFY(dlg.ExportButton()->isEnabled());
            QVERIFY(!FindControl(dlg.Page(CImageParamsDlg::kFocus),
                                 CFocusTab::kFocusNearRefreshId)
                         ->isEnabled());
            // A write reaches the camera's store and reads back the same.
            QVERIFY(picture->SetParam("Luminance", 37) >= 0);
            int32_t stored = 0;
            QVERIFY(model.GetParam("Luminance", &stored));
            QCOMPARE(stored, 37);
            dlg.OnRefresh();
            QCOMPARE(luminance->value(), 37);
            // Manual exposure enables the gain; the gain limit, which ONVIF
            // lacks, stays disabled although the mode would enable it.
            CParamPage* exposure = dlg.Page(CImageParamsDlg::kExposure);
            auto* mode = qobject_cast<QComboBox*>(FindControl(exposure, 1474));
            mode->setCurrentIndex(1);
            emit mode->activated(1);
            QVERIFY(model.GetParam("eExposureMode", &stored));
            QCOMPARE(stored, 1);
            QVERIFY(FindControl(exposure, 1497)->isEnabled());
            QVERIFY(!FindControl(exposure, 1498)->isEnabled());
            mode->setCurrentIndex(0);
            emit mode->activated(0);
            QVERIFY(exposure->RowDisabledForGood("ucAutoGainLimit"));
            // Iris is in the table but this camera reports no such setting.
            QVERIFY(exposure->RowDisabledForGood("ucManualIris"));
            QVERIFY(!exposure->RowDisabledForGood("ucManualGain"));
            QVERIFY(!FindControl(exposure, 1498)->isEnabled());
            dlg.Tabs()->setCurrentIndex(CImageParamsDlg::kPicture);
            Shoot(&dlg, "onvif-params.png");
        };
        d.OnConfig();
        QVERIFY(ran);
        QVERIFY2(m_messages.texts.empty(), First(m_messages.texts));

        // "重启设备" on the tree item, after the operator's OK only.
        d.Tree()->setCurrentItem(Node(d)->item);
        d.rebootAnswer = false;
        d.OnRebootDevice();
        QVERIFY(d.rebootQuestion.contains(QStringLiteral("127.0.6.2")));
        QVERIFY(m_messages.texts.empty());
        d.rebootAnswer = true;
        d.OnRebootDevice();
        QCOMPARE(m_messages.texts.size(), size_t(1));
        QCOMPARE(m_messages.texts[0], std::string("重启命令已发送，设备正在重启"));
    }
};

QTEST_MAIN(TestOnvifGui)
#include "test_onvif_gui.moc"
