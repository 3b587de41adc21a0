// "升级" in the main window: the dialog works on a copy of the USB table, and
// the handles of the cameras it rebooted are forgotten by the main window
// (table rows closed, tree items, the selected camera and the PTZ target
// dropped), so a later command on them is refused instead of reaching another
// camera, and the dialog opened again lists them no more. The main window
// starts discovery, so this runs in the private network namespace.
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "CParamImportDlg.h"
#include "CPtzCtrl.h"
#include "CTivanoDlg.h"
#include "CUpgradeDlg.h"
#include "DialogUnits.h"
#include "MessageRecorder.h"
#include "UsbSim.h"

using namespace strevo;

namespace {

// Runs act on the dialog once it is the modal window.
template <class Dlg = CUpgradeDlg>
class OnDialog {
  public:
    explicit OnDialog(std::function<void(Dlg*)> act) : act_(std::move(act)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* d = qobject_cast<Dlg*>(QApplication::activeModalWidget())) {
                timer_.stop();
                act_(d);
            }
        });
        timer_.start(20);
    }

  private:
    QTimer timer_;
    std::function<void(Dlg*)> act_;
};

}  // namespace

class TestUpgradeMainWindow : public QObject {
    Q_OBJECT

  private:
    MessageRecorder m_messages;
    camsim::UsbSimServer m_sim;

  private slots:
    void initTestCase() {
        std::vector<camsim::UsbCamera> cams(3);
        for (size_t i = 0; i < cams.size(); ++i) cams[i].name = "cam " + std::to_string(i);
        const int port = m_sim.Start(cams);
        QVERIFY(port > 0);
        setenv("STREVO_HID_SIM", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    }
    void cleanupTestCase() { m_sim.Stop(); }

    // "复制当前设备参数到…": the selected camera's record, read once, into the
    // cameras ticked in the dialog; the source starts unticked. The button
    // sits beside "导入配置" in USB mode only.
    void copyCurrentCameraToTheOthers() {
        QTemporaryDir dir;
        const std::string moduleDir = dir.path().toStdString() + "/";
        {
            QFile ini(QString::fromStdString(moduleDir + "toolscfg.ini"));
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write("[SEARCH_MODE]\nMode=1\n");
        }
        CTivanoDlg d(moduleDir);
        d.show();
        QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(d.Nodes().size()), 3, 10000);
        QPushButton* many = d.ImportManyButton();
        QVERIFY(many->isVisible());
        QCOMPARE(many->y(), d.ImportButton()->y());
        QVERIFY(many->geometry().right() < d.ImportButton()->x());

        VideoParam source{};
        QCOMPARE(d.Usb().GetVideoParam(d.Nodes()[1].usb, &source), 0);
        source.Contrast = static_cast<uint8_t>(source.Contrast + 3);
        source.ucDigitalZoom = 4;
        QCOMPARE(d.Usb().SetVideoParam(d.Nodes()[1].usb, &source), 0);
        QCOMPARE(d.Usb().GetVideoParam(d.Nodes()[1].usb, &source), 0);
        d.Tree()->setCurrentItem(d.Nodes()[1].item);
        d.OnTreeDoubleClick();
        QCOMPARE(d.SelectedUsbDevice(), d.Nodes()[1].usb);

        bool ran = false;
        OnDialog<CParamImportDlg> on([&](CParamImportDlg* dlg) {
            ran = true;
            QTableWidget* list = dlg->DeviceList();
            QCOMPARE(list->rowCount(), 3);
            QCOMPARE(list->item(1, 0)->checkState(), Qt::Unchecked);
            QCOMPARE(list->item(0, 0)->checkState(), Qt::Checked);
            dlg->StartButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(
                dlg->StatusLine()->text() == QStringLiteral("导入完成: 2 台设备成功"), 8000);
            dlg->accept();
        });
        many->menu()->actions().value(1)->trigger();
        QVERIFY(ran);
        for (int i : {0, 2}) {
            VideoParam back{};
            QCOMPARE(d.Usb().GetVideoParam(d.Nodes()[static_cast<size_t>(i)].usb, &back), 0);
            QVERIFY(std::memcmp(&back, &source, sizeof back) == 0);
        }
        QVERIFY(m_messages.texts.empty());

        d.OnModeIp();
        QVERIFY(!many->isVisible());
    }

    void rebootedHandlesAreForgotten() {
        QTemporaryDir dir;
        const std::string moduleDir = dir.path().toStdString() + "/";
        {
            QFile ini(QString::fromStdString(moduleDir + "toolscfg.ini"));
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write("[SEARCH_MODE]\nMode=1\n");
        }
        CTivanoDlg d(moduleDir);
        d.show();
        QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(d.Nodes().size()), 3, 10000);
        const UsbHandle h0 = d.Usb().GetEntry(0).handle, h1 = d.Usb().GetEntry(1).handle,
                        h2 = d.Usb().GetEntry(2).handle;

        // The operator selects camera 2.
        const QPoint at = d.Tree()->visualItemRect(d.Nodes()[2].item).center();
        QTest::mouseClick(d.Tree()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(d.Tree()->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(d.SelectedUsbDevice(), h2);
        QCOMPARE(d.Ptz()->TargetId(), reinterpret_cast<intptr_t>(h2));

        // Opened and closed without a reboot: nothing changes.
        {
            int rows = -1;
            OnDialog<> close([&rows](CUpgradeDlg* dlg) {
                rows = dlg->DeviceList()->rowCount();
                dlg->reject();
            });
            d.MenuItem(3)->trigger();
            QCOMPARE(rows, 3);
            QCOMPARE(d.Usb().GetEntry(0).handle, h0);
            QCOMPARE(d.SelectedUsbDevice(), h2);
        }

        // Reboot all three; camera 1 does not answer and stays.
        camsim::UsbFaultSetting silent;
        silent.kind = camsim::UsbFault::kNoAnswer;
        m_sim.SetFault(1, silent);
        bool finished = false;
        OnDialog<> reboot([&finished](CUpgradeDlg* dlg) {
            for (int r = 0; r < 3; ++r)
                QCOMPARE(dlg->Engine().Rows()[static_cast<size_t>(r)].handle,
                         dlg->m_devices[static_cast<size_t>(r)].handle);
            static_cast<QPushButton*>(FindControl(dlg, 1006))->click();
            finished =
                QTest::qWaitFor([dlg] { return !dlg->StatusLine()->text().isEmpty(); }, 20000);
            dlg->reject();
        });
        d.MenuItem(3)->trigger();
        QVERIFY(finished);
        m_sim.SetFault(1, {});

        QCOMPARE(d.Usb().GetEntry(0).handle, kInvalidUsbHandle);
        QCOMPARE(d.Usb().GetEntry(1).handle, h1);
        QCOMPARE(d.Usb().GetEntry(2).handle, kInvalidUsbHandle);
        QCOMPARE(static_cast<int>(d.Nodes().size()), 1);
        QCOMPARE(d.Nodes()[0].usb, h1);
        QCOMPARE(d.FoundItem()->childCount(), 1);
        QCOMPARE(d.SelectedUsbDevice(), nullptr);
        QCOMPARE(d.Ptz()->TargetId(), static_cast<intptr_t>(-1));
        // Opened again before the tree is refreshed: only the camera that
        // stayed is listed, not the rebooted ones with their closed handles.
        {
            std::vector<UsbHandle> listed;
            OnDialog<> close([&listed](CUpgradeDlg* dlg) {
                for (const UpgradeRow& row : dlg->Engine().Rows()) listed.push_back(row.handle);
                dlg->reject();
            });
            d.MenuItem(3)->trigger();
            QCOMPARE(listed, std::vector<UsbHandle>{h1});
        }
        // Nothing reaches a camera through a forgotten handle.
        QCOMPARE(CUSBDevice::Transact(h2, kCmdGetDeviceInfo, nullptr, 0, nullptr, 0, nullptr, 5),
                 static_cast<int32_t>(kUsbInvalidHandle));
        const size_t before = m_sim.ReceivedCommands(2).size();
        QCOMPARE(d.SetVideoParamItem("\"Luminance\":10"), 0);
        QCOMPARE(m_sim.ReceivedCommands(2).size(), before);
        d.close();
    }
};

QTEST_MAIN(TestUpgradeMainWindow)
#include "test_upgrade_main_window.moc"
