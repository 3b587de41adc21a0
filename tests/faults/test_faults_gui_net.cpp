// The windows of the network side against simulated cameras with each fault
// switch: the preview panes, the image parameter dialog and the PTZ panel on
// a streaming camera, and the device tree against faulty discovery answers:
// what the operator is told, how long each action holds the window, that
// nothing crashes and that no file is lost. Rows go to the matrix record.
// The main window starts discovery, which broadcasts, so this runs in the
// private network namespace.
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "CImageParamsDlg.h"
#include "CParamPage.h"
#include "CPreviewPane.h"
#include "CPtzCtrl.h"
#include "CTivanoDlg.h"
#include "GuiFaults.h"
#include "ModalAnswer.h"
#include "NetCommands.h"
#include "Process.h"
#include "SimNetCameras.h"

using namespace strevo;
using namespace faults;

class TestFaultsGuiNet : public WindowFaults {
    Q_OBJECT

  public:
    TestFaultsGuiNet() : WindowFaults(kNetActionBound) {}

  private:
  private slots:
    void initTestCase() { QVERIFY(m_files.isValid()); }
    void init() { m_messages.texts.clear(); }

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
            QVERIFY(d.Pane(0).Occupied() &&
                    d.Pane(0).playerPort.Get() >= 0);  // the stream goes on through it all
        }
    }

    // The tree in IP mode against discovery answers that are malformed or late.
    void discoveryInTheTree() {
        struct Case {
            const char* fault;
            std::vector<std::string> args;
            const char* first;  // the cameras' first address
            int firstFill;      // cameras of this case in the tree at the first fill
            int later;          // and after "刷新列表" 3 s later
        } cases[] = {
            {"--discovery-malformed mixed", {"--discovery-malformed", "mixed"}, "127.0.51.2", 3, 3},
            {"--discovery-malformed oversized",
             {"--discovery-malformed", "oversized"},
             "127.0.52.2",
             0,
             0},
            {"--discovery-delay 2500 (later than the first fill)",
             {"--discovery-delay", "2500"},
             "127.0.53.2",
             0,
             3},
        };
        for (const Case& c : cases) {
            std::vector<std::string> args{"--net", "3", "--net-first", c.first};
            args.insert(args.end(), c.args.begin(), c.args.end());
            faults::Camsim cams(args);
            QVERIFY2(cams.Ok(), c.fault);
            const QString prefix = QString::fromLatin1(c.first).section(QLatin1Char('.'), 0, 2);
            auto ofThisCase = [&prefix](const CTivanoDlg& d) {
                int n = 0;
                for (int i = 0; i < d.FoundItem()->childCount(); ++i)
                    n += d.FoundItem()->child(i)->text(0).startsWith(prefix + QLatin1Char('.'));
                return n;
            };
            QTemporaryDir dir;
            const auto t0 = Clock::now();
            CTivanoDlg d(dir.path().toStdString() + "/");
            QSignalSpy filled(&d, &CTivanoDlg::DeviceTreeRefreshed);
            d.show();
            QVERIFY(filled.wait(10000));
            const double took = SecondsSince(t0);
            faults::Row(c.fault, "main window: tree at the first fill",
                        std::to_string(ofThisCase(d)) + " of 3 cameras listed", took);
            QCOMPARE(ofThisCase(d), c.firstFill);
            QTest::qWait(3000);
            d.OnRefreshList();
            faults::Row(c.fault, "main window: tree after 刷新列表 3 s later",
                        std::to_string(ofThisCase(d)) + " of 3 cameras listed", 0);
            QCOMPARE(ofThisCase(d), c.later);
            QVERIFY(m_messages.texts.empty());
        }
    }
};

QTEST_MAIN(TestFaultsGuiNet)
#include "test_faults_gui_net.moc"
