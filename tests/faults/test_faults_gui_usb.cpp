// The windows of the USB side against simulated cameras with each fault
// switch: the main window's list, read, page edits and buttons, and the
// upgrade dialog: what the operator is told, how long each action holds the
// window, that nothing crashes and that no file is lost. Rows go to the
// matrix record. The main window starts discovery, which broadcasts, so this
// runs in the private network namespace.
#include <QMessageBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "CParamPage.h"
#include "CTivanoDlg.h"
#include "CUpgradeDlg.h"
#include "CameraModel.h"
#include "GuiFaults.h"
#include "IniStore.h"
#include "ModalAnswer.h"
#include "Process.h"
#include "UsbSim.h"

using namespace strevo;
using namespace faults;

namespace {

struct UsbFaultCase {
    const char* text;   // camsim's switch
    const char* label;  // for the record
};

// The answer faults of a USB camera; unplugging is handled on its own.
// The late one last: the camera answers one request at a time, so its late
// answers hold up whatever follows for a while.
const UsbFaultCase kUsbAnswerFaults[] = {
    {"noanswer", "noanswer (silent)"},    {"delay:1500", "delay:1500 (slow, in time)"},
    {"badmagic", "badmagic (malformed)"}, {"bigchunk", "bigchunk (malformed)"},
    {"oversized", "oversized"},           {"delay:7000", "delay:7000 (slow, too late)"},
};

// Upgrade dialog that takes its packages without asking.
class PackagedUpgradeDlg : public CUpgradeDlg {
  public:
    QStringList files;

  protected:
    bool ChoosePackages(QStringList* out) override {
        *out = files;
        return true;
    }
};

}  // namespace

class TestFaultsGuiUsb : public WindowFaults {
    Q_OBJECT

  public:
    TestFaultsGuiUsb() : WindowFaults(kUsbActionBound) {}

  private:
    static std::vector<camsim::UsbCamera> UsbCameras(int n) {
        std::vector<camsim::UsbCamera> cams(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            camsim::UsbCamera& c = cams[static_cast<size_t>(i)];
            c.name = "USB " + std::to_string(i + 1);
            c.model = "TV-U200";
            c.serial = "SN" + std::to_string(100 + i);
            c.buildDate = "2026-10-01";
            c.state = std::make_shared<camsim::CameraModel>(c.name);
        }
        return cams;
    }

    static void DoubleClick(CTivanoDlg& d, QTreeWidgetItem* item) {
        const QPoint at = d.Tree()->visualItemRect(item).center();
        QTest::mouseClick(d.Tree()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(d.Tree()->viewport(), Qt::LeftButton, {}, at);
    }

  private slots:
    void initTestCase() { QVERIFY(m_files.isValid()); }
    void init() { m_messages.texts.clear(); }

    // The main window in USB mode: each answer fault on its own camera as the
    // list is filled and the camera read, then on the selected camera while
    // the operator edits, exports over an earlier file, restores the defaults
    // and reads again; an unplugged camera; the settings saved at the end.
    void usbMainWindow() {
        const int n = static_cast<int>(std::size(kUsbAnswerFaults)) + 1;
        camsim::UsbSimServer sim;
        const int port = sim.Start(UsbCameras(n));
        QVERIFY(port > 0);
        for (int i = 1; i < n; ++i)
            sim.SetFault(static_cast<size_t>(i), Fault(kUsbAnswerFaults[i - 1].text));

        QTemporaryDir dir;
        const std::string moduleDir = dir.path().toStdString() + "/";
        const QString ini = dir.filePath(QStringLiteral("toolscfg.ini"));
        WriteBytes(ini, "[SEARCH_MODE]\nMode=1\n[VID]\nSRC1=0x2222\n[LOG]\nLevel=3\n");
        auto d = std::make_unique<CTivanoDlg>(
            moduleDir, MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
        d->show();
        QTRY_VERIFY_WITH_TIMEOUT(d->FoundItem()->childCount() == n, 60000);
        // The list filled by the timer, identity queries of the faulty cameras included.
        Timed(
            "all answer faults at once", "main window: 刷新列表", [&] { d->OnRefreshList(); },
            n * faults::kUsbActionBound);
        QCOMPARE(d->FoundItem()->childCount(), n);
        QCOMPARE(d->FoundItem()->child(0)->text(0), QStringLiteral("USB 1"));
        {
            // strevoctl beside the window: the cameras the window holds are not its.
            faults::Process ctl;
            QVERIFY(ctl.Start({STREVOCTL_PATH, "usb", "list"},
                              {"STREVO_HID_SIM=127.0.0.1:" + std::to_string(port)}));
            const faults::ProcessResult r = ctl.Wait(std::chrono::seconds(60));
            faults::Row("cameras held by the main window", "strevoctl usb list beside it",
                        "exit " + std::to_string(r.status) + ", " +
                            (r.out.empty() ? "lists nothing" : r.out),
                        r.seconds);
            QCOMPARE(r.status, 0);
            QCOMPARE(r.out, std::string());
        }

        // Each faulty camera double-clicked: its read fails with its code.
        for (int i = 1; i < n; ++i) {
            const std::string seen =
                Timed(kUsbAnswerFaults[i - 1].label, "main window: double-click read",
                      [&] { DoubleClick(*d, d->FoundItem()->child(i)); });
            if (std::string(kUsbAnswerFaults[i - 1].text) == "delay:1500") {
                QCOMPARE(seen, std::string("nothing shown"));
                QVERIFY(d->SelectedUsbDevice() != nullptr);
            } else {
                QVERIFY2(seen.find("获取图像参数失败: -3") != std::string::npos, seen.c_str());
                QCOMPARE(d->SelectedUsbDevice(), nullptr);
            }
        }

        // The first camera read well, then each fault while it is selected.
        m_messages.texts.clear();
        DoubleClick(*d, d->FoundItem()->child(0));
        QVERIFY2(m_messages.texts.empty(), Joined(m_messages.texts).c_str());
        QVERIFY(d->SelectedUsbDevice() != nullptr);
        QLineEdit* brightness =
            qobject_cast<QLineEdit*>(FindControl(d->Page(CTivanoDlg::kPicture), 1488));
        const QString exportFile = m_files.filePath(QStringLiteral("usb_export.dat"));
        const QByteArray earlier(55, '\x5A');
        int value = 10;
        for (const UsbFaultCase& f : kUsbAnswerFaults) {
            sim.SetFault(0, Fault(f.text));
            const std::string kind = f.text;
            // Answers in time make these work; answers too late may be taken
            // for the next command's (the frames carry nothing to match them
            // by), so only their limits and the file are checked.
            const bool inTime = kind == "delay:1500";
            const bool late = kind == "delay:7000";
            const size_t before = sim.ReceivedCommands(0).size();
            const std::string edit = Timed(f.label, "main window: page edit (brightness)",
                                           [&] { TypeAndLeave(brightness, ++value); });
            if (!late)  // a late camera takes its requests one after the other, later
                QCOMPARE(sim.ReceivedCommands(0).size(), before + 1);
            // A set's answer carries no data: an oversized one fits no buffer
            // at all, so it is read to its end and its code taken.
            if (!inTime && !late && kind != "oversized")
                QVERIFY2(edit.find("设置失败！") != std::string::npos, edit.c_str());

            WriteBytes(exportFile, earlier);
            const std::string exp = Timed(f.label, "main window: export over an earlier file", [&] {
                Answer<CDlgBrowser> path(TypePath(exportFile));
                d->ExportButton()->click();
            });
            const QByteArray after = ReadBytes(exportFile);
            QCOMPARE(after.size(), 55);
            if (exp.find("导出配置成功！") == std::string::npos) {
                QCOMPARE(after, earlier);  // a failed export leaves the earlier file
                if (!late)
                    QVERIFY2(exp.find("获取参数出错： -3") != std::string::npos, exp.c_str());
            }
            QVERIFY(!QFile::exists(exportFile + QStringLiteral(".tmp")));

            Timed(f.label, "main window: 恢复默认 (confirmed)", [&] {
                std::unique_ptr<Answer<QMessageBox>> ok(Press(QMessageBox::Ok));
                d->RestoreButton()->click();
            });
            const std::string reread =
                Timed(f.label, "main window: 刷新参数", [&] { d->RefreshButton()->click(); });
            if (!inTime && !late)
                QVERIFY2(reread.find("获取图像参数失败: -3") != std::string::npos, reread.c_str());
        }
        // Late answers still under way reach nothing once they have arrived.
        sim.SetFault(0, {});
        QTest::qWait(7500);
        m_messages.texts.clear();
        d->RefreshButton()->click();
        QVERIFY2(m_messages.texts.empty(), Joined(m_messages.texts).c_str());
        sim.SetFault(0, {});

        // Unplugged while selected: the next command fails at once, the next
        // list no longer has it.
        sim.SetPresent(0, false);
        const std::string unplugged =
            Timed("unplugged while selected", "main window: page edit (brightness)",
                  [&] { TypeAndLeave(brightness, 33); });
        QVERIFY2(unplugged.find("设置失败！") != std::string::npos, unplugged.c_str());
        for (int i = 1; i < n; ++i) sim.SetFault(static_cast<size_t>(i), {});
        Timed("unplugged while selected", "main window: 刷新列表", [&] { d->OnRefreshList(); });
        QCOMPARE(d->FoundItem()->childCount(), n - 1);
        sim.SetPresent(0, true);

        // Closing saves the window's settings; the others stay.
        d.reset();
        QCOMPARE(IniGetInt("SEARCH_MODE", "Mode", -1, ini.toLocal8Bit().constData()), 1);
        char text[16] = {};
        IniGetString("VID", "SRC1", "", text, sizeof text, ini.toLocal8Bit().constData());
        QCOMPARE(QByteArray(text), QByteArray("0x2222"));
        QVERIFY(IniGetInt("WIN_SIZE", "Width", -1, ini.toLocal8Bit().constData()) > 0);
    }

    // The upgrade dialog: one camera per firmware fault and per answer fault,
    // all in one run; the camera that never finishes flashing is stopped.
    void upgradeDialog() {
        const std::vector<std::pair<const char*, QString>> cases = {
            {"none", QStringLiteral("升级成功.")},
            {"negprogress:50", QStringLiteral("升级[1]返回失败:-7")},
            {"silence:50", QStringLiteral("升级[1]失败:-302")},
            {"unplug:50", QStringLiteral("升级[1]失败:-310")},
            {"flashfail:50", QStringLiteral("升级返回失败:-7")},
            {"datanotext", QStringLiteral("升级成功.")},
            {"noanswer", QStringLiteral("请求升级失败:-302")},
            {"badmagic", QStringLiteral("请求升级失败:-310")},
            {"flashhang", QStringLiteral("停止升级")},
        };
        const int n = static_cast<int>(cases.size());
        camsim::UsbSimServer sim;
        const int port = sim.Start(UsbCameras(n));
        QVERIFY(port > 0);
        CUSBDevice usb(MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
        usb.refreshSettleMs = 0;
        QCOMPARE(usb.RefreshDevices(), n);
        for (int i = 0; i < n; ++i) {
            sim.SetUpgradeTiming(static_cast<size_t>(i), 800, 300);
            sim.SetFault(static_cast<size_t>(i), Fault(cases[static_cast<size_t>(i)].first));
        }
        const QString pkg = m_files.filePath(QStringLiteral("pkg.dat"));
        WriteBytes(pkg, QByteArray(300000, 'f'));

        PackagedUpgradeDlg d;
        d.m_devices = usb.Entries();
        d.files = {pkg};
        d.show();
        static_cast<QPushButton*>(FindControl(&d, 1004))->click();
        auto cell = [&d](int row) {
            const QTableWidgetItem* item = d.DeviceList()->item(row, CUpgradeDlg::kColStatus);
            return item ? item->text() : QString();
        };
        auto finalText = [&](int row) {
            const QString t = cell(row);
            return t.contains(QStringLiteral("成功")) || t.contains(QStringLiteral("失败"));
        };
        const auto t0 = Clock::now();
        d.StartButton()->click();
        std::vector<double> took(static_cast<size_t>(n), -1);
        // Every row but the hanging one comes to its end by itself.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                bool all = true;
                for (int i = 0; i < n - 1; ++i) {
                    if (took[static_cast<size_t>(i)] < 0 && finalText(i))
                        took[static_cast<size_t>(i)] = SecondsSince(t0);
                    all = all && took[static_cast<size_t>(i)] >= 0;
                }
                return all;
            }(),
            120000);
        QTRY_VERIFY_WITH_TIMEOUT(cell(n - 1).contains(QStringLiteral("烧写中")), 30000);
        // The operator stops the camera that never finishes: with "停止升级",
        // which the button offers while any camera sends or flashes; should the
        // first progress tick have found none busy and given the button back
        // (the workers go on), by closing the dialog, which stops them and waits.
        const bool byButton = d.StartButton()->text() == QStringLiteral("停止升级");
        const auto stop = Clock::now();
        if (byButton)
            d.StartButton()->click();
        else
            d.reject();
        QTRY_VERIFY_WITH_TIMEOUT(!d.Engine().WorkersRunning(), 60000);
        took[static_cast<size_t>(n - 1)] = SecondsSince(stop);
        // The workers' last row changes are still queued for the GUI thread:
        // a closing dialog applies them before it hides, otherwise let them in.
        if (byButton)
            QCoreApplication::sendPostedEvents(&d, QEvent::MetaCall);
        else
            QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 10000);
        for (int i = 0; i < n; ++i) {
            const auto& c = cases[static_cast<size_t>(i)];
            faults::Row(c.first,
                        i < n - 1  ? "upgrade dialog: Status cell"
                        : byButton ? "upgrade dialog: 停止升级 while flashing"
                                   : "upgrade dialog: closed while flashing",
                        cell(i).toStdString(), took[static_cast<size_t>(i)]);
            QCOMPARE(cell(i), c.second);
            QVERIFY(took[static_cast<size_t>(i)] < 2 * (20 + 5) + faults::kUsbActionBound);
        }
        if (byButton) {
            QTRY_COMPARE_WITH_TIMEOUT(d.StartButton()->text(), QStringLiteral("开始升级"), 10000);
            d.reject();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 10000);
    }
};

QTEST_MAIN(TestFaultsGuiUsb)
#include "test_faults_gui_usb.moc"
