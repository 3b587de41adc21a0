// The upgrade dialog against simulated cameras: the initial list and the
// controls, a run with progress and results in the rows and the enabling of
// the controls, Stop while rows send or flash, a first tick before any row
// sends, the reboot (also of a camera still upgrading), and closing or
// destroying the dialog while its workers run. With STREVO_SHOT_DIR set, the
// dialog is also saved there mid-run and after completion (upgrade-running.png,
// upgrade-done.png).
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <memory>

#include "CUSBDevice.h"
#include "CUpgradeDlg.h"
#include "DialogUnits.h"
#include "UsbSim.h"

using namespace strevo;

namespace {

// Answers Browse with the given files.
class TestDlg : public CUpgradeDlg {
  public:
    QStringList files;

  protected:
    bool ChoosePackages(QStringList* out) override {
        *out = files;
        return true;
    }
};

QWidget* Ctrl(QWidget* dlg, int id) {
    return FindControl(dlg, id);
}

void Click(QWidget* dlg, int id) {
    static_cast<QPushButton*>(FindControl(dlg, id))->click();
}

QString Cell(const CUpgradeDlg& d, int row, int col) {
    const QTableWidgetItem* item = d.DeviceList()->item(row, col);
    return item ? item->text() : QStringLiteral("<none>");
}

bool Ticked(const CUpgradeDlg& d, int row) {
    return d.DeviceList()->item(row, 0)->checkState() == Qt::Checked;
}

// The package path field, Browse, Reboot device, Refresh.
bool OperationsEnabled(QWidget* d) {
    return Ctrl(d, 1003)->isEnabled() && Ctrl(d, 1004)->isEnabled() && Ctrl(d, 1006)->isEnabled() &&
           Ctrl(d, 1000)->isEnabled();
}
bool OperationsDisabled(QWidget* d) {
    return !Ctrl(d, 1003)->isEnabled() && !Ctrl(d, 1004)->isEnabled() &&
           !Ctrl(d, 1006)->isEnabled() && !Ctrl(d, 1000)->isEnabled();
}

void Shoot(QWidget* w, const char* name) {
    const QByteArray dir = qgetenv("STREVO_SHOT_DIR");
    if (!dir.isEmpty())
        QVERIFY(w->grab().save(QDir(QString::fromLocal8Bit(dir)).filePath(QLatin1String(name))));
}

}  // namespace

class TestUpgradeDlg : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<camsim::UsbSimServer> m_sim;
    std::unique_ptr<CUSBDevice> m_usb;
    QTemporaryDir m_dir;

    // n cameras with 1025-byte reports; their table as the main window holds it.
    void StartCameras(int n, int flashMs = 800) {
        m_usb.reset();
        m_sim = std::make_unique<camsim::UsbSimServer>();
        std::vector<camsim::UsbCamera> cams(static_cast<size_t>(n));
        const char* const names[] = {"演播室摄像机 1", "Studio Cam 2", "会议室 3", "Stage Left 4",
                                     "Spare 5"};
        for (int i = 0; i < n; ++i) {
            camsim::UsbCamera& c = cams[static_cast<size_t>(i)];
            c.name = names[i % 5];
            c.model = "TV-U" + std::to_string(200 + 10 * i);
            c.serial = "SN000" + std::to_string(21000 + i);
            c.buildDate = "2026-10-0" + std::to_string(1 + i);
            c.biosVersion = 0x0102 + i;
            c.reportLength = 1025;
        }
        const int port = m_sim->Start(cams);
        QVERIFY(port > 0);
        for (int i = 0; i < n; ++i) m_sim->SetUpgradeTiming(static_cast<size_t>(i), flashMs, 300);
        m_usb =
            std::make_unique<CUSBDevice>(MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
        m_usb->refreshSettleMs = 0;
        QCOMPARE(m_usb->RefreshDevices(), n);
    }
    void Fault(int camera, const char* text) {
        camsim::UsbFaultSetting f;
        QVERIFY(camsim::ParseUsbFault(text, &f));
        m_sim->SetFault(static_cast<size_t>(camera), f);
    }
    QString Package(const QString& name, qint64 size) {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(QByteArray(size, 'f'));
        return path;
    }

    // Opens the dialog on the cameras, chooses the package and presses Start.
    void StartUpgrade(TestDlg& d, const QString& package) {
        d.m_devices = m_usb->Entries();
        d.files = {package};
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        Click(&d, 1004);
        d.StartButton()->click();
    }

  private slots:
    void cleanup() {
        m_usb.reset();
        m_sim.reset();
    }

    // The list and the controls as the dialog opens; Start with no package.
    void initialListAndControls() {
        TestDlg d;
        for (int i = 0; i < 12; ++i) {
            UsbDeviceEntry e;
            e.handle = reinterpret_cast<UsbHandle>(static_cast<uintptr_t>(0x7000 + 4 * i));
            std::snprintf(e.serial, sizeof e.serial, "S%d", i);
            std::snprintf(e.biosVersion, sizeof e.biosVersion, "1.%02d", i);
            std::strcpy(e.buildDate, "2026-10-01");
            std::strcpy(e.model, "TV-U200");
            d.m_devices.push_back(e);
        }
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.windowTitle(), QStringLiteral("升级"));
        QCOMPARE(DialogUnitSize(&d), QSize(408, 211));

        QTableWidget* list = d.DeviceList();
        QCOMPARE(list->rowCount(), CUpgradeDlg::kMaxRows);
        QCOMPARE(list->columnCount(), 8);
        const char* const headers[] = {"序号", "状态",   "PID",      "设备名称",
                                       "型号", "序列号", "机芯版本", "编译时间"};
        const int W = list->contentsRect().width();
        const int widths[] = {W / 12, W / 6, 0, W / 6, W / 8, W / 4, W / 10, W / 10};
        for (int c = 0; c < 8; ++c) {
            QCOMPARE(list->horizontalHeaderItem(c)->text(), QString::fromUtf8(headers[c]));
            QCOMPARE(list->horizontalHeader()->sectionSize(c), widths[c]);
        }
        QVERIFY(list->showGrid());
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        const std::vector<UpgradeRow> rows = d.Engine().Rows();
        QCOMPARE(static_cast<int>(rows.size()), 10);
        for (int r = 0; r < 10; ++r) {
            QCOMPARE(Cell(d, r, 0), QString::number(r + 1));
            QVERIFY(Ticked(d, r));
            QCOMPARE(Cell(d, r, 1), QString());
            QCOMPARE(Cell(d, r, 2), QString());
            QCOMPARE(Cell(d, r, 5), QStringLiteral("S%1").arg(r));
            QCOMPARE(Cell(d, r, 6), QStringLiteral("1.%1").arg(r, 2, 10, QLatin1Char('0')));
            QCOMPARE(Cell(d, r, 7), QStringLiteral("2026-10-01"));
            QCOMPARE(rows[static_cast<size_t>(r)].handle,
                     d.m_devices[static_cast<size_t>(r)].handle);
        }

        for (QLabel* line : {d.StatusLine(), d.NoteLine()}) {
            QCOMPARE(line->font().pointSize(), 10);
            QCOMPARE(line->font().families().value(0), QStringLiteral("微软雅黑"));
        }
        QCOMPARE(d.NoteLine()->text(), QStringLiteral("PS:如果设备被拔出，请重新刷新列表."));
        QCOMPARE(d.StatusLine()->text(), QString());
        for (int id : {1000, 1003, 1015, 1016})
            QVERIFY2(!Ctrl(&d, id)->isVisible(), qPrintable(QString::number(id)));
        for (int id : {1012, 1013}) QVERIFY(!Ctrl(&d, id)->isEnabled());
        for (int id : {1002, 1004, 1006}) QVERIFY(Ctrl(&d, id)->isEnabled());
        QCOMPARE(static_cast<QLabel*>(Ctrl(&d, 1014))->text(),
                 QStringLiteral("支持一次选择多个升级包。"));

        // Start without packages: every ticked row is taken and ticked again,
        // nothing is sent, and the first tick gives the controls back.
        d.StartButton()->click();
        QCOMPARE(d.StartButton()->text(), QStringLiteral("停止升级"));
        QVERIFY(OperationsDisabled(&d));
        QVERIFY(d.StartButton()->isEnabled());
        QVERIFY(!d.ProgressTimer().isActive());  // a second's pause first
        QTRY_VERIFY_WITH_TIMEOUT(OperationsEnabled(&d), 10000);
        QCOMPARE(d.StartButton()->text(), QStringLiteral("开始升级"));
        QVERIFY(!d.ProgressTimer().isActive());
        for (int r = 0; r < 10; ++r) QVERIFY(Ticked(d, r));

        // An empty table gives an empty list with the commands available.
        TestDlg empty;
        empty.show();
        QCOMPARE(empty.DeviceList()->rowCount(), 0);
        for (int id : {1002, 1004, 1006}) QVERIFY(Ctrl(&empty, id)->isEnabled());
    }

    // Three cameras, one failing mid-package: progress and results in their
    // rows; the operator's untick keeps a camera out.
    void upgradeRun() {
        StartCameras(4, 3000);
        m_sim->SetReportInterval(1, 1000);      // a full-speed link: slower than the others
        m_sim->SetUpgradeTiming(0, 6000, 300);  // still writing while camera 1 sends
        Fault(2, "negprogress:50");
        TestDlg d;
        d.m_devices = m_usb->Entries();
        d.files = {Package(QStringLiteral("UImage_v2.dat"), 3000000)};
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.DeviceList()->item(3, 0)->setCheckState(Qt::Unchecked);  // the operator's click
        Click(&d, 1004);
        QCOMPARE(d.PackageList()->count(), 1);
        QCOMPARE(d.PackageList()->item(0)->text(), QDir::toNativeSeparators(d.files[0]));

        d.StartButton()->click();
        QCOMPARE(d.StartButton()->text(), QStringLiteral("停止升级"));
        QVERIFY(OperationsDisabled(&d));
        QTRY_VERIFY_WITH_TIMEOUT(Cell(d, 0, 1).contains(QStringLiteral("烧写中")) &&
                                     Cell(d, 1, 1).startsWith(QStringLiteral("升级[uimage]: ")),
                                 30000);
        QVERIFY(!Ticked(d, 0));  // writing to flash
        Shoot(&d, "upgrade-running.png");

        QTRY_VERIFY_WITH_TIMEOUT(OperationsEnabled(&d), 60000);
        QCOMPARE(d.StartButton()->text(), QStringLiteral("开始升级"));
        QCOMPARE(Cell(d, 0, 1), QStringLiteral("升级成功."));
        QCOMPARE(Cell(d, 1, 1), QStringLiteral("升级成功."));
        QCOMPARE(Cell(d, 2, 1), QStringLiteral("升级[uimage]返回失败:-7"));
        QCOMPARE(Cell(d, 3, 1), QString());
        for (int r = 0; r < 3; ++r) QVERIFY(Ticked(d, r));
        QVERIFY(!Ticked(d, 3));
        QVERIFY(m_sim->ReceivedCommands(3).size() == 1);  // only the identity query
        Shoot(&d, "upgrade-done.png");
    }

    // The first busy row writing to flash while a later one still sends: Stop
    // stays on the button and the other controls stay disabled, so a flash
    // that never ends can be stopped; Stop pressed ends both rows and the
    // next tick gives the controls back.
    void stopStaysWhileAnyRowIsBusy() {
        StartCameras(2);
        Fault(0, "flashhang");
        Fault(1, "flashhang");
        m_sim->SetReportInterval(1, 1000);  // camera 1 sends for seconds
        TestDlg d;
        StartUpgrade(d, Package(QStringLiteral("uboot.dat"), 3000000));
        QTRY_VERIFY_WITH_TIMEOUT(Cell(d, 0, 1).contains(QStringLiteral("烧写中")) &&
                                     Cell(d, 1, 1).startsWith(QStringLiteral("升级[uboot]: ")),
                                 30000);
        QTRY_VERIFY(d.ProgressTimer().isActive());
        QTest::qWait(CUpgradeDlg::kProgressTimerMs + 300);  // at least one tick in this state
        QCOMPARE(d.StartButton()->text(), QStringLiteral("停止升级"));
        QVERIFY(d.StartButton()->isEnabled());
        QVERIFY(OperationsDisabled(&d));

        d.StartButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(OperationsEnabled(&d), 30000);
        QCOMPARE(d.StartButton()->text(), QStringLiteral("开始升级"));
        QVERIFY(!d.ProgressTimer().isActive());
        QVERIFY(!d.Engine().WorkersRunning());
        for (int r = 0; r < 2; ++r) {
            QCOMPARE(Cell(d, r, 1), QStringLiteral("停止升级"));
            QVERIFY(Ticked(d, r));
            QCOMPARE(d.Engine().Rows()[static_cast<size_t>(r)].state, static_cast<int>(kRowFailed));
        }
    }

    // No row sending by the first tick: the controls come back while the
    // worker still waits for its request's answer. A reboot then leaves that
    // camera alone and says why in the status line, which the upgrade's
    // progress in the row does not overwrite.
    void firstTickBeforeAnyRowSends() {
        StartCameras(1);
        Fault(0, "delay:4000");  // the request's answer comes after the first tick
        TestDlg d;
        StartUpgrade(d, Package(QStringLiteral("uboot.dat"), 1000));
        QTRY_VERIFY_WITH_TIMEOUT(OperationsEnabled(&d), 10000);
        QCOMPARE(d.StartButton()->text(), QStringLiteral("开始升级"));
        QVERIFY(!d.ProgressTimer().isActive());
        QVERIFY(d.Engine().WorkersRunning());
        QCOMPARE(Cell(d, 0, 1), QStringLiteral("请求升级[uboot]..."));

        Click(&d, 1006);
        QTRY_COMPARE_WITH_TIMEOUT(d.StatusLine()->text(), QStringLiteral("重启失败: 设备正在升级"),
                                  10000);
        m_sim->SetFault(0, {});
        QTRY_VERIFY_WITH_TIMEOUT(Cell(d, 0, 1) == QStringLiteral("升级成功."), 30000);
        QCOMPARE(d.StatusLine()->text(), QStringLiteral("重启失败: 设备正在升级"));
        QCOMPARE(d.DeviceList()->rowCount(), 1);
        const auto cmds = m_sim->ReceivedCommands(0);
        QCOMPARE(std::count(cmds.begin(), cmds.end(), kCmdReboot), 0);
    }

    // Reboot: the middle camera does not answer and stays, with its handle.
    void reboot() {
        StartCameras(3);
        Fault(1, "noanswer");
        TestDlg d;
        d.m_devices = m_usb->Entries();
        d.show();
        Click(&d, 1006);
        for (int id : {1000, 1002, 1003, 1004, 1006}) QVERIFY(!Ctrl(&d, id)->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(d.StatusLine()->text(),
                                  QStringLiteral("重启成功的设备将从列表删除，稍后请重新手动刷新."),
                                  20000);
        for (int id : {1000, 1002, 1003, 1004, 1006}) QVERIFY(Ctrl(&d, id)->isEnabled());
        QCOMPARE(d.DeviceList()->rowCount(), 1);
        QCOMPARE(Cell(d, 0, 1), QStringLiteral("重启失败"));
        QCOMPARE(Cell(d, 0, 5), QStringLiteral("SN00021001"));
        QCOMPARE(d.Engine().Rows()[0].handle, m_usb->GetEntry(1).handle);
        const std::vector<UsbHandle> closed{m_usb->GetEntry(2).handle, m_usb->GetEntry(0).handle};
        QCOMPARE(d.ClosedHandles(), closed);
    }

    // Closing while workers run waits for them; destroying the dialog joins them.
    void closeWhileRunning() {
        StartCameras(2);
        Fault(0, "flashhang");
        Fault(1, "delay:1500");
        const QString pkg = Package(QStringLiteral("uboot.dat"), 100000);
        {
            TestDlg d;
            d.m_devices = m_usb->Entries();
            d.files = {pkg, pkg};
            d.show();
            Click(&d, 1004);
            d.StartButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(Cell(d, 0, 1).contains(QStringLiteral("烧写中")), 20000);
            d.reject();
            QVERIFY(d.isVisible());
            QCOMPARE(d.StatusLine()->text(), QStringLiteral("正在停止，请稍候..."));
            QVERIFY(!d.StartButton()->isEnabled());
            d.reject();  // a second close changes nothing
            QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 20000);
            QCOMPARE(d.result(), static_cast<int>(QDialog::Rejected));
            QVERIFY(!d.Engine().WorkersRunning());
            QCOMPARE(Cell(d, 0, 1), QStringLiteral("停止升级"));
            // One request each: the second package was never announced.
            for (int i = 0; i < 2; ++i) {
                const auto cmds = m_sim->ReceivedCommands(static_cast<size_t>(i));
                QCOMPARE(std::count(cmds.begin(), cmds.end(), 30001008u), 1);
            }
        }
        {
            auto d = std::make_unique<TestDlg>();
            d->m_devices = m_usb->Entries();
            d->files = {pkg};
            d->show();
            Click(d.get(), 1004);
            d->StartButton()->click();
            QTest::qWait(200);
            QVERIFY(d->Engine().WorkersRunning());
            d.reset();  // joins; no event reaches the destroyed dialog
            QTest::qWait(100);
        }
    }
};

QTEST_MAIN(TestUpgradeDlg)
#include "test_upgrade_dlg.moc"
