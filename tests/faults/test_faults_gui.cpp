// The program's windows against simulated cameras with each fault switch:
// what the operator is told, how long each action holds the window, that
// nothing crashes and that no file is lost. Rows go to the matrix record.
// The main window starts discovery, which broadcasts, so this runs in the
// private network namespace.
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "CDlgBrowser.h"
#include "CImageParamsDlg.h"
#include "CParamPage.h"
#include "CPreviewPane.h"
#include "CPtzCtrl.h"
#include "CTivanoDlg.h"
#include "CUpgradeDlg.h"
#include "CameraModel.h"
#include "DialogUnits.h"
#include "IniStore.h"
#include "Matrix.h"
#include "MessageRecorder.h"
#include "ModalAnswer.h"
#include "NetCommands.h"
#include "SimNetCameras.h"
#include "UsbSim.h"

using namespace strevo;
using faults::Clock;
using faults::SecondsSince;

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

camsim::UsbFaultSetting Fault(const char* text) {
    camsim::UsbFaultSetting f;
    camsim::ParseUsbFault(text, &f);
    return f;
}

std::string Joined(const std::vector<std::string>& texts) {
    std::string out;
    for (const auto& t : texts) out += (out.empty() ? "" : " / ") + ("\"" + t + "\"");
    return out.empty() ? "nothing shown" : out;
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Answers the path dialog with a typed path and OK.
std::function<void(CDlgBrowser*)> TypePath(const QString& path) {
    return [path](CDlgBrowser* dlg) {
        qobject_cast<QLineEdit*>(FindControl(dlg, 1517))->setText(path);
        qobject_cast<QPushButton*>(FindControl(dlg, 1))->click();
    };
}

// A number typed into a page's box, which is then left: the page sends it.
void TypeAndLeave(QLineEdit* box, int value) {
    box->setText(QString::number(value));
    QFocusEvent left(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(box, &left);
}

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

class TestFaultsGui : public QObject {
    Q_OBJECT

    MessageRecorder m_messages;
    QTemporaryDir m_files;

    // Runs one operator action, records what was shown and how long it took.
    template <class Action>
    std::string Timed(const std::string& fault, const std::string& part, Action act,
                      double bound = faults::kUsbActionBound) {
        m_messages.texts.clear();
        const auto t0 = Clock::now();
        act();
        const double took = SecondsSince(t0);
        const std::string seen = Joined(m_messages.texts);
        faults::Row(fault, part, seen, took);
        if (took >= bound)
            QTest::qFail(
                qPrintable(QStringLiteral("%1 / %2 took %3 s")
                               .arg(QString::fromStdString(fault), QString::fromStdString(part))
                               .arg(took)),
                __FILE__, __LINE__);
        return seen;
    }

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
        // The operator stops the camera that never finishes.
        const auto stop = Clock::now();
        d.StartButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!d.Engine().WorkersRunning(), 60000);
        took[static_cast<size_t>(n - 1)] = SecondsSince(stop);
        for (int i = 0; i < n; ++i) {
            const auto& c = cases[static_cast<size_t>(i)];
            faults::Row(c.first,
                        i == n - 1 ? "upgrade dialog: 停止升级 while flashing"
                                   : "upgrade dialog: Status cell",
                        cell(i).toStdString(), took[static_cast<size_t>(i)]);
            QCOMPARE(cell(i), c.second);
            QVERIFY(took[static_cast<size_t>(i)] < 2 * (20 + 5) + faults::kUsbActionBound);
        }
        QTRY_COMPARE_WITH_TIMEOUT(d.StartButton()->text(), QStringLiteral("开始升级"), 10000);
        d.reject();
        QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 10000);
    }

    // Live preview in the panes against cameras that refuse, are busy, drop
    // the stream or are not there; then the image parameter dialog and the
    // PTZ panel on a streaming camera whose text commands fail, each in turn.
    void networkPanesDialogAndPtz() {
        const std::vector<std::string> small = {"--net-video", "320x180@15"};
        auto with = [&small](std::vector<std::string> extra) {
            extra.insert(extra.end(), small.begin(), small.end());
            return extra;
        };
        struct NetCase {
            const char* label;
            std::vector<std::string> options;
            std::unique_ptr<SimNetCameras> cams;
        };
        std::vector<NetCase> panes;
        panes.push_back({"--net-password (wrong password)", {"--net-password", "other"}, {}});
        panes.push_back(
            {"--net-max-logins 1 (busy, one login elsewhere)", {"--net-max-logins", "1"}, {}});
        panes.push_back({"--net-max-streams 0 (stream refused)", {"--net-max-streams", "0"}, {}});
        panes.push_back(
            {"--net-drop-after 1 (disconnect mid-stream)", {"--net-drop-after", "1"}, {}});
        std::vector<NetCase> texts;
        texts.push_back({"--net-no-answer (silent)", {"--net-no-answer"}, {}});
        texts.push_back({"--net-delay 2000 (slow, in time)", {"--net-delay", "2000"}, {}});
        texts.push_back({"--net-negative", {"--net-negative"}, {}});
        texts.push_back({"--net-malformed", {"--net-malformed"}, {}});
        texts.push_back(
            {"--net-answer-pad 100000 (oversized)", {"--net-answer-pad", "100000"}, {}});
        texts.push_back({"--net-delay 7000 (slow, too late)", {"--net-delay", "7000"}, {}});
        int subnet = 10;
        for (auto* list : {&panes, &texts}) {
            for (NetCase& c : *list) {
                c.cams = std::make_unique<SimNetCameras>(
                    1, "127.0." + std::to_string(++subnet) + ".2", with(c.options));
                QVERIFY2(c.cams->Started(), c.label);
            }
        }

        QTemporaryDir dir;
        CTivanoDlg d(dir.path().toStdString() + "/");
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        auto open = [&d](const std::string& address) {
            d.OpenPreview(ProgramLoginInfo(address.c_str()), 0);
        };

        // The busy camera's one login is taken elsewhere.
        const int32_t elsewhere =
            PELION_Login(ProgramLoginInfo(panes[1].cams->Address(0).c_str()), nullptr, 0, 0, 0, 0);
        QVERIFY(elsewhere >= 0);
        const std::vector<std::string> paneMessages = {"登录失败 错误码为-9", "登录失败 错误码为-",
                                                       "请求主码流失败! 错误码为: -10", ""};
        for (size_t i = 0; i < panes.size(); ++i) {
            d.OnLayout(1);  // one pane: each preview takes it
            const std::string seen = Timed(
                panes[i].label, "pane: double-click preview",
                [&] { open(panes[i].cams->Address(0)); }, faults::kNetActionBound);
            if (paneMessages[i].empty())
                QCOMPARE(seen, std::string("nothing shown"));
            else
                QVERIFY2(seen.find(paneMessages[i]) != std::string::npos, seen.c_str());
        }
        PELION_LogOut(elsewhere);
        // The dropped stream: the pane keeps its last picture and says nothing.
        QTRY_VERIFY_WITH_TIMEOUT(!d.PanePicture(0)->Picture().isNull(), 10000);
        QTest::qWait(2000);
        QVERIFY(m_messages.texts.empty());
        faults::Row(panes[3].label, "pane: after the drop", "last picture kept, nothing shown", 2);
        Timed(
            "no camera at the address", "pane: double-click preview", [&] { open("127.0.99.2"); },
            faults::kNetActionBound);

        // Text command faults: the camera streams in the pane while the
        // dialog and the PTZ panel work on its login.
        const QString exportFile = m_files.filePath(QStringLiteral("net_export.dat"));
        const QByteArray earlier(55, '\x5A');
        for (NetCase& c : texts) {
            d.OnLayout(1);
            open(c.cams->Address(0));
            QVERIFY(d.Pane(0).login >= 0);
            const std::string kind = c.options[0];
            const bool inTime = c.options.size() > 1 && c.options[1] == "2000";
            const bool late = c.options.size() > 1 && c.options[1] == "7000";

            CImageParamsDlg dlg(&d);
            dlg.SetDeviceHandle(d.Pane(0).login);
            const std::string opened = Timed(
                c.label, "image parameter dialog: opening (reads the record)", [&] { dlg.show(); },
                faults::kNetActionBound);
            // Every failed read is reported, also a refusal or a broken answer
            // from a camera that did answer.
            if (kind == "--net-negative")
                QCOMPARE(opened, std::string("\"获取图像参数失败: -5.\""));
            else if (kind == "--net-malformed")
                QCOMPARE(opened, std::string("\"获取图像参数失败: -310.\""));
            else if (!inTime)
                QVERIFY2(opened.find("返回错误码: -") != std::string::npos, opened.c_str());
            QLineEdit* brightness =
                qobject_cast<QLineEdit*>(FindControl(dlg.Page(CImageParamsDlg::kPicture), 1488));
            const std::string edit = Timed(
                c.label, "image parameter dialog: page edit (brightness)",
                [&] { TypeAndLeave(brightness, 21); }, faults::kNetActionBound);
            // A set's answer is not examined: only a call that fails is shown.
            if (kind == "--net-no-answer" || late)
                QVERIFY2(edit.find("设置失败！") != std::string::npos, edit.c_str());

            WriteBytes(exportFile, earlier);
            const std::string exp = Timed(
                c.label, "image parameter dialog: export over an earlier file",
                [&] {
                    Answer<CDlgBrowser> path(TypePath(exportFile));
                    dlg.ExportButton()->click();
                },
                faults::kNetActionBound);
            if (exp.find("导出配置成功！") == std::string::npos)
                QCOMPARE(ReadBytes(exportFile), earlier);
            else
                QCOMPARE(ReadBytes(exportFile).size(), 55);
            Timed(
                c.label, "image parameter dialog: 恢复默认 (confirmed)",
                [&] {
                    std::unique_ptr<Answer<QMessageBox>> ok(Press(QMessageBox::Ok));
                    dlg.RestoreButton()->click();
                },
                faults::kNetActionBound);
            Timed(
                c.label, "image parameter dialog: 刷新", [&] { dlg.RefreshButton()->click(); },
                faults::kNetActionBound);
            dlg.reject();

            // The PTZ panel on the pane's camera: a press and its release.
            d.SelectPane(0);
            QWidget* left = FindControl(d.Ptz(), 1241);
            Timed(
                c.label, "PTZ panel: press and release",
                [&] {
                    QTest::mousePress(left, Qt::LeftButton);
                    QTest::mouseRelease(left, Qt::LeftButton);
                },
                2 * faults::kNetActionBound);
            QVERIFY(d.Pane(0).realPlay >= 0);  // the stream goes on through it all
        }
    }
};

QTEST_MAIN(TestFaultsGui)
#include "test_faults_gui.moc"
