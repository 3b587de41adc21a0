// The two hosts of the parameter pages against simulated cameras: the image
// parameter dialog on a network camera through the SDK, the main window's USB
// actions through the HID link, the four parameter buttons they share, the
// USB arrangement's minimum size and Qt's own texts in Chinese. The main
// window starts discovery, so this runs in the private network namespace.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CDlgBrowser.h"
#include "CImageParamsDlg.h"
#include "CParamPage.h"
#include "CPtzCtrl.h"
#include "CTivanoApp.h"
#include "CTivanoDlg.h"
#include "CameraModel.h"
#include "Camsim.h"
#include "DialogUnits.h"
#include "MessageRecorder.h"
#include "ModalAnswer.h"
#include "NetCommands.h"
#include "UsbSim.h"
#include "VideoParam.h"

using namespace strevo;

namespace {

// Addresses of their own, so other test programs may run network cameras too.
constexpr char kNetAddress[] = "127.0.0.81";

// The path dialog, answered with a typed path and OK.
std::function<void(CDlgBrowser*)> TypePath(const QString& path) {
    return [path](CDlgBrowser* dlg) {
        qobject_cast<QLineEdit*>(FindControl(dlg, 1517))->setText(path);
        qobject_cast<QPushButton*>(FindControl(dlg, 1))->click();
    };
}

int32_t OnCamera(const camsim::CameraModel& m, const char* key) {
    int32_t v = -999;
    m.GetParam(key, &v);
    return v;
}

void SetOnCamera(camsim::CameraModel& m, const char* key, int value) {
    std::string text;
    BuildSetItemText(MakeVideoParamItem(key, value).c_str(), &text);
    m.HandleJson(text);
}

QLineEdit* BrightnessBox(QWidget* picturePage) {
    return qobject_cast<QLineEdit*>(FindControl(picturePage, 1488));
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

class RecordingParamsDlg : public CImageParamsDlg {
  public:
    using CImageParamsDlg::CImageParamsDlg;
    std::vector<VideoParam> shown;
    void ShowAllPages(const VideoParam& p) override {
        shown.push_back(p);
        CImageParamsDlg::ShowAllPages(p);
    }
};

class RecordingMainDlg : public CTivanoDlg {
  public:
    using CTivanoDlg::CTivanoDlg;
    using CTivanoDlg::RunImageParamsDlg;
    std::vector<VideoParam> shown;
    void ShowVideoParam(const VideoParam& p) override {
        shown.push_back(p);
        CTivanoDlg::ShowVideoParam(p);
    }
};

// The buttons of one host and the camera they act on.
struct Host {
    QPushButton* restore;
    QPushButton* exportBtn;
    QPushButton* importBtn;
    QPushButton* refresh;
    camsim::CameraModel* camera;
    std::vector<VideoParam>* shown;
};

struct ModuleDir {
    QTemporaryDir dir;
    std::string Path() const { return dir.path().toStdString() + "/"; }
    void Write(const char* text) const {
        WriteFile(QString::fromStdString(Path() + "toolscfg.ini"), QByteArray(text));
    }
};

}  // namespace

class TestParamHosts : public QObject {
    Q_OBJECT

    MessageRecorder m_messages;
    camsim::World m_netWorld;
    std::shared_ptr<camsim::CameraModel> m_net;
    std::unique_ptr<camsim::Module> m_netModule;
    std::vector<std::shared_ptr<camsim::CameraModel>> m_usbModels;
    camsim::UsbSimServer m_usbSim;
    std::vector<int32_t> m_logins;
    QTemporaryDir m_files;

    // A login as a preview pane would hold it. After each main window, as its
    // shutdown cleans the SDK up.
    int32_t Login(const char* address) {
        PELION_Init(0);
        const LoginInfo info = ProgramLoginInfo(address);
        char deviceInfo[PELION_DEVICE_INFO_SIZE] = {};
        const int32_t login = PELION_Login(info, deviceInfo, 0, 0, 0, 0);
        if (login >= 0)
            m_logins.push_back(login);
        return login;
    }

    QStringList Messages() const {
        QStringList out;
        for (const std::string& t : m_messages.texts) out << QString::fromStdString(t);
        return out;
    }

    static void DoubleClick(CTivanoDlg& d, QTreeWidgetItem* item) {
        const QPoint at = d.Tree()->visualItemRect(item).center();
        QTest::mouseClick(d.Tree()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(d.Tree()->viewport(), Qt::LeftButton, {}, at);
    }

    // The four buttons on a working camera: restore with its confirmation,
    // export to the path given, import of wrong and right sizes, refresh.
    void CheckButtons(const Host& h, const QString& tag) {
        camsim::CameraModel& cam = *h.camera;
        SetOnCamera(cam, "Luminance", 77);
        h.shown->clear();
        m_messages.texts.clear();
        // The confirmation, with Qt's buttons in Chinese (the application
        // object loads Qt's translation), cancelled.
        QStringList texts;
        {
            Answer<QMessageBox> cancel([&texts](QMessageBox* box) {
                texts << box->text();
                for (QAbstractButton* b : box->buttons()) texts << b->text();
                box->button(QMessageBox::Cancel)->click();
            });
            h.restore->click();
        }
        texts.sort();
        QCOMPARE(texts, (QStringList{QStringLiteral("取消"),
                                     QStringLiteral("所有视频参数都将恢复默认，确认执行此操作?"),
                                     QStringLiteral("确定")}));
        QCOMPARE(OnCamera(cam, "Luminance"), 77);
        QVERIFY(h.shown->empty());
        {
            std::unique_ptr<Answer<QMessageBox>> ok(Press(QMessageBox::Ok));
            h.restore->click();
            QCOMPARE(ok->count, 1);
        }
        QCOMPARE(OnCamera(cam, "Luminance"), 50);
        QCOMPARE(h.shown->size(), size_t(1));
        QCOMPARE(h.shown->back().Luminance, 50);

        // The path from the path dialog is the file itself.
        SetOnCamera(cam, "Luminance", 61);
        const QString file = m_files.filePath(tag + QStringLiteral("/video_params.dat"));
        QDir().mkpath(m_files.filePath(tag));
        {
            Answer<CDlgBrowser> path(TypePath(file));
            h.exportBtn->click();
            QCOMPARE(path.count, 1);
        }
        QFile exported(file);
        QVERIFY2(exported.open(QIODevice::ReadOnly), qPrintable(file));
        QByteArray bytes = exported.readAll();
        QCOMPARE(bytes.size(), 55);
        QCOMPARE(static_cast<int>(bytes[0]), 61);
        QCOMPARE(Messages().last(), QStringLiteral("导出配置成功！"));

        // Wrong sizes are refused before anything is shown or sent.
        for (int n : {54, 56}) {
            const QString wrong = m_files.filePath(tag + QStringLiteral("/%1.dat").arg(n));
            WriteFile(wrong, QByteArray(n, '\x21'));
            m_messages.texts.clear();
            Answer<CDlgBrowser> path(TypePath(wrong));
            h.importBtn->click();
            QCOMPARE(Messages(), QStringList{QStringLiteral("数据长度不匹配！")});
        }
        QCOMPARE(OnCamera(cam, "Luminance"), 61);
        QCOMPARE(h.shown->size(), size_t(1));

        bytes[0] = 33;
        const QString good = m_files.filePath(tag + QStringLiteral("/import.dat"));
        WriteFile(good, bytes);
        m_messages.texts.clear();
        {
            Answer<CDlgBrowser> path(TypePath(good));
            h.importBtn->click();
        }
        QCOMPARE(Messages(), QStringList{QStringLiteral("导入配置成功！")});
        QCOMPARE(h.shown->back().Luminance, 33);
        QCOMPARE(OnCamera(cam, "Luminance"), 33);

        SetOnCamera(cam, "Luminance", 91);
        h.refresh->click();
        QCOMPARE(h.shown->back().Luminance, 91);
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_files.isValid());
        m_net = std::make_shared<camsim::CameraModel>("dialog camera");
        m_netWorld.net.push_back({kNetAddress, "dialog camera", "00:1A:2B:00:00:81", m_net});
        m_netModule = camsim::MakeNetModule();
        QVERIFY(m_netModule->Start(m_netWorld));

        std::vector<camsim::UsbCamera> usb;
        for (const char* name : {"USB 1", "USB 2"}) {
            camsim::UsbCamera c;
            c.name = name;
            c.model = "TV-U200";
            c.serial = name;
            c.buildDate = "2026-10-01";
            c.state = std::make_shared<camsim::CameraModel>(name);
            m_usbModels.push_back(c.state);
            usb.push_back(c);
        }
        const int port = m_usbSim.Start(usb);
        QVERIFY(port > 0);
        setenv("STREVO_HID_SIM", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    }

    void cleanupTestCase() {
        m_usbSim.Stop();
        m_netModule->Stop();
    }

    void init() { m_messages.texts.clear(); }

    void cleanup() {
        for (int32_t login : m_logins) PELION_LogOut(login);
        m_logins.clear();
    }

    void dialogStartUp() {
        SetOnCamera(*m_net, "Luminance", 77);
        RecordingParamsDlg dlg;
        dlg.SetDeviceHandle(Login(kNetAddress));
        QVERIFY(dlg.DeviceHandle() >= 0);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("图像参数"));

        const QStringList labels = {QStringLiteral("图像调节"), QStringLiteral("曝光参数"),
                                    QStringLiteral("白平衡"),   QStringLiteral("聚焦"),
                                    QStringLiteral("图像增强"), QStringLiteral("视频调整")};
        QTabWidget* tabs = dlg.Tabs();
        QCOMPARE(tabs->count(), CImageParamsDlg::kPageCount);
        QCOMPARE(tabs->currentIndex(), 0);
        for (int i = 0; i < CImageParamsDlg::kPageCount; ++i) {
            CParamPage* page = dlg.Page(i);
            QCOMPARE(tabs->tabText(i), labels[i]);
            QCOMPARE(tabs->widget(i), static_cast<QWidget*>(page));
            QCOMPARE(page->Host(), static_cast<IParamHost*>(&dlg));
            QVERIFY(!page->IsMainWindowHost());
            QVERIFY(FindControl(page, CParamPage::kTitleLabelId)->isHidden());
        }
        QCOMPARE(dlg.shown.size(), size_t(1));
        QCOMPARE(dlg.shown[0].Luminance, 77);
        QCOMPARE(BrightnessBox(dlg.Page(CImageParamsDlg::kPicture))->text(), QStringLiteral("77"));

        // Each tab shows its page alone and whole, clear of the buttons.
        const QRect tabsRect = tabs->geometry();
        for (QPushButton* b :
             {dlg.ImportButton(), dlg.ExportButton(), dlg.RefreshButton(), dlg.RestoreButton()}) {
            QVERIFY(dlg.rect().contains(b->geometry()));
            QVERIFY(!tabsRect.intersects(b->geometry()));
        }
        for (int i = 0; i < CImageParamsDlg::kPageCount; ++i) {
            tabs->setCurrentIndex(i);
            for (int j = 0; j < CImageParamsDlg::kPageCount; ++j)
                QCOMPARE(dlg.Page(j)->isVisible(), i == j);
            const QWidget* area = dlg.Page(i)->parentWidget();
            const QRect shown(area->mapTo(&dlg, QPoint()), area->size());
            QVERIFY(tabsRect.contains(shown));
            for (QWidget* c : dlg.Page(i)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (c->isHidden())
                    continue;
                const QRect r(c->mapTo(&dlg, QPoint()), c->size());
                QVERIFY2(shown.contains(r), qPrintable(labels[i] + c->objectName()));
            }
        }
        QCOMPARE(dlg.shown.size(), size_t(1));  // switching tabs reads nothing

        // A failed read is reported and the dialog opens all the same.
        RecordingParamsDlg noCamera;
        noCamera.OnInitDialog();
        QCOMPARE(Messages(), QStringList{QStringLiteral("无效的设备句柄!")});
        QCOMPARE(noCamera.Tabs()->count(), CImageParamsDlg::kPageCount);
        QVERIFY(noCamera.shown.empty());

        // A login that has gone: every command fails in the SDK (-3).
        const int32_t gone = Login(kNetAddress);
        PELION_LogOut(gone);
        m_logins.pop_back();
        m_messages.texts.clear();
        RecordingParamsDlg lost;
        lost.SetDeviceHandle(gone);
        lost.OnInitDialog();
        QCOMPARE(Messages(), QStringList{QStringLiteral("返回错误码: -3")});
        QCOMPARE(lost.Tabs()->count(), CImageParamsDlg::kPageCount);
        m_messages.texts.clear();
        lost.RefreshButton()->click();
        QCOMPARE(Messages(), (QStringList{QStringLiteral("返回错误码: -3"),
                                          QStringLiteral("获取图像参数失败: -3.")}));
        // A failed restore reads nothing afterwards.
        m_messages.texts.clear();
        std::unique_ptr<Answer<QMessageBox>> ok(Press(QMessageBox::Ok));
        lost.RestoreButton()->click();
        QCOMPARE(ok->count, 1);
        QCOMPARE(Messages(), QStringList{QStringLiteral("返回错误码: -3")});
        QVERIFY(lost.shown.empty());
    }

    void dialogButtons() {
        RecordingParamsDlg dlg;
        dlg.SetDeviceHandle(Login(kNetAddress));
        dlg.OnInitDialog();
        CheckButtons({dlg.RestoreButton(), dlg.ExportButton(), dlg.ImportButton(),
                      dlg.RefreshButton(), m_net.get(), &dlg.shown},
                     QStringLiteral("net"));
    }

    // Escape closes the dialog only from its own controls; Enter never does.
    void dialogKeys() {
        CImageParamsDlg dlg;
        dlg.SetDeviceHandle(Login(kNetAddress));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        // Inside a page: Enter sends the brightness box over the login.
        QLineEdit* box = BrightnessBox(dlg.Page(CImageParamsDlg::kPicture));
        box->setFocus();
        box->setText(QStringLiteral("33"));
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(box, key);
            QVERIFY(dlg.isVisible());
        }
        QTRY_COMPARE(OnCamera(*m_net, "Luminance"), 33);
        for (QWidget* own : {static_cast<QWidget*>(dlg.RefreshButton()),
                             static_cast<QWidget*>(dlg.Tabs()->tabBar())}) {
            own->setFocus();
            QTest::keyClick(own, Qt::Key_Return);
            QVERIFY(dlg.isVisible());
        }
        QTest::keyClick(dlg.Tabs()->tabBar(), Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    // "配置" runs the dialog modally on the pane's login.
    void configRunsDialogOnLogin() {
        ModuleDir dir;
        RecordingMainDlg d(dir.Path());
        const int32_t login = Login(kNetAddress);
        int32_t seen = -2;
        Answer<CImageParamsDlg> look([&seen](CImageParamsDlg* dlg) {
            seen = dlg->DeviceHandle();
            dlg->reject();
        });
        d.RunImageParamsDlg(login);
        QCOMPARE(look.count, 1);
        QCOMPARE(seen, login);
    }

    void usbReadAndActions() {
        ModuleDir dir;
        dir.Write("[SEARCH_MODE]\nMode=1\n");
        RecordingMainDlg d(dir.Path());
        d.show();
        QSignalSpy filled(&d, &CTivanoDlg::DeviceTreeRefreshed);
        QVERIFY(filled.wait(8000));
        QTreeWidgetItem* found = d.FoundItem();
        QCOMPARE(found->childCount(), 2);
        camsim::CameraModel& cam = *m_usbModels[0];
        auto buttonsEnabled = [&d] {
            return d.ExportButton()->isEnabled() && d.ImportButton()->isEnabled() &&
                   d.RefreshButton()->isEnabled();
        };

        // A failed read selects nothing: edits go nowhere, restore does nothing.
        m_usbSim.SetFault(1, {camsim::UsbFault::kBadMagic, 0});
        DoubleClick(d, found->child(1));
        m_usbSim.SetFault(1, {});
        QCOMPARE(Messages(), QStringList{QStringLiteral("获取图像参数失败: -310.")});
        QCOMPARE(d.SelectedUsbDevice(), nullptr);
        QVERIFY(d.shown.empty());
        QVERIFY(!d.ExportButton()->isEnabled());
        QCOMPARE(d.SetVideoParamItem("\"Luminance\":5"), 0);
        QCOMPARE(d.GetFocusNear(), 0);
        {
            std::unique_ptr<Answer<QMessageBox>> any(Press(QMessageBox::Ok));
            d.RestoreButton()->click();
            QCOMPARE(any->count, 0);
        }

        // A good read shows the record, selects the camera for the pages and
        // the PTZ panel and enables the buttons.
        SetOnCamera(cam, "Luminance", 44);
        m_messages.texts.clear();
        DoubleClick(d, found->child(0));
        QVERIFY(Messages().isEmpty());
        const UsbHandle handle = d.Nodes()[0].usb;
        QCOMPARE(d.SelectedUsbDevice(), handle);
        QCOMPARE(d.shown.size(), size_t(1));
        QCOMPARE(d.shown[0].Luminance, 44);
        QLineEdit* brightness = BrightnessBox(d.Page(CTivanoDlg::kPicture));
        QCOMPARE(brightness->text(), QStringLiteral("44"));
        QCOMPARE(d.Ptz()->TargetId(), reinterpret_cast<intptr_t>(handle));
        QCOMPARE(QByteArray(d.Ptz()->TargetAddress()), QByteArray());
        QCOMPARE(d.Ptz()->TargetPort(), 0);
        QVERIFY(buttonsEnabled());
        // The hosted pages write to the selected camera.
        brightness->setFocus();
        brightness->setText(QStringLiteral("12"));
        QTest::keyClick(brightness, Qt::Key_Return);
        QTRY_COMPARE(OnCamera(cam, "Luminance"), 12);
        QCOMPARE(d.GetFocusNear(), cam.FocusNearMm());

        // The PTZ keys reach the selected camera from the device tree, and
        // leave a page's number box alone.
        d.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        const size_t ptzBefore = cam.PtzLog().size();
        brightness->setFocus();
        QTRY_VERIFY(brightness->hasFocus());
        QTest::keyClick(brightness, Qt::Key_Left);
        QTest::keyClick(brightness, Qt::Key_Up);  // passed on to the page
        QCOMPARE(cam.PtzLog().size(), ptzBefore);
        d.Tree()->setFocus();
        QTRY_VERIFY(d.Tree()->hasFocus());
        QTest::keyClick(d.Tree(), Qt::Key_Left);
        const auto ptz = cam.PtzLog();
        QCOMPARE(ptz.size(), ptzBefore + 2);
        QCOMPARE(ptz[ptzBefore].action, std::string("Left"));
        QCOMPARE(ptz.back().action, std::string("Stop"));

        CheckButtons({d.RestoreButton(), d.ExportButton(), d.ImportButton(), d.RefreshButton(),
                      &cam, &d.shown},
                     QStringLiteral("usb"));

        // After "刷新列表" nothing is selected while the buttons stay enabled;
        // they then fail on handle 0 with the usual messages.
        d.OnRefreshList();
        QCOMPARE(d.SelectedUsbDevice(), nullptr);
        QVERIFY(buttonsEnabled());
        m_messages.texts.clear();
        d.RefreshButton()->click();
        QCOMPARE(Messages(), QStringList{QStringLiteral("获取图像参数失败: -304.")});
        const QString file = m_files.filePath(QStringLiteral("none.dat"));
        {
            Answer<CDlgBrowser> path(TypePath(file));
            d.ExportButton()->click();
        }
        QVERIFY(!QFile::exists(file));
        {
            Answer<CDlgBrowser> path(TypePath(m_files.filePath(QStringLiteral("usb/import.dat"))));
            d.ImportButton()->click();
        }
        QCOMPARE(Messages(), (QStringList{QStringLiteral("获取图像参数失败: -304."),
                                          QStringLiteral("获取参数出错： -304"),
                                          QStringLiteral("返回错误码: -304")}));
        QCOMPARE(d.shown.back().Luminance, 33);  // the file's values, although not sent
    }

    // At the default size and at a small restored size the USB arrangement
    // shows every page and the buttons whole, the buttons on top; IP mode
    // keeps no such minimum.
    void usbArrangementFitsTheWindow() {
        for (const char* ini : {"[SEARCH_MODE]\nMode=1\n",
                                "[SEARCH_MODE]\nMode=1\n[WIN_SIZE]\nWidth=640\nHeight=400\n"}) {
            ModuleDir dir;
            dir.Write(ini);
            CTivanoDlg d(dir.Path());
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            QVERIFY(d.Client()->width() >= d.UsbMinimumClientSize().width());
            QVERIFY(d.Client()->height() >= d.UsbMinimumClientSize().height());
            const QRect client = d.Client()->rect();
            const QList<QWidget*> own = {static_cast<QWidget*>(d.InstructionText()),
                                         d.ImportButton(), d.ExportButton(), d.RefreshButton(),
                                         d.RestoreButton()};
            for (QWidget* w : own) {
                QVERIFY(client.contains(w->geometry()));
                QCOMPARE(d.Client()->childAt(w->geometry().center()), w);
                QVERIFY(!w->geometry().intersects(d.Ptz()->geometry()));
                QVERIFY(!w->geometry().intersects(d.Tree()->geometry()));
            }
            for (int i = 0; i < CTivanoDlg::kPageCount; ++i) {
                const QRect page = d.Page(i)->geometry();
                QVERIFY(client.contains(page));
                for (QWidget* w : own) QVERIFY(!page.intersects(w->geometry()));
            }
            d.resize(300, 200);
            QTest::qWait(50);
            QVERIFY(d.Client()->width() >= d.UsbMinimumClientSize().width());

            d.OnModeIp();
            d.resize(700, 450);
            QTRY_COMPARE(d.size(), QSize(700, 450));
        }
    }
};

int main(int argc, char** argv) {
    CTivanoApp app(argc, argv);  // the program's own application object
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestParamHosts test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_param_hosts.moc"
