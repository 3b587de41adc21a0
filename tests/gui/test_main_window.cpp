// The main window against simulated cameras: what set-up leaves visible in
// each mode, the arrangement of the children, toolscfg.ini round trips, the
// device tree from discovery and from USB, double-clicks, keys, pop-up menus,
// pane selection and frames. Discovery broadcasts, so this runs in the
// private network namespace.
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "CParamPage.h"
#include "CPtzCtrl.h"
#include "CTivanoApp.h"
#include "CTivanoDlg.h"
#include "CameraModel.h"
#include "Camsim.h"
#include "IniStore.h"
#include "MessageRecorder.h"
#include "OperatorMessages.h"
#include "UsbSim.h"

using namespace strevo;

namespace {

// Records what the double-click hands on instead of logging in or reading.
class RecordingDlg : public CTivanoDlg {
  public:
    using CTivanoDlg::CTivanoDlg;
    std::vector<LoginInfo> previews;
    std::vector<UsbHandle> reads;

  protected:
    void OpenPreview(const LoginInfo& info, int streamType) override {
        QCOMPARE(streamType, 0);
        previews.push_back(info);
    }
    void ReadUsbCameraParams(const DeviceNode& node) override { reads.push_back(node.usb); }
};

constexpr int kNetCameras = 25;
const char* const kUsbNames[] = {"演播室摄像机 1", "Studio Cam 2"};

// A module directory of its own for each window, with an optional toolscfg.ini.
struct ModuleDir {
    QTemporaryDir dir;
    std::string Path() const { return dir.path().toStdString() + "/"; }
    std::string Ini() const { return Path() + "toolscfg.ini"; }
    void Write(const char* text) const {
        QFile f(QString::fromStdString(Ini()));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    int Get(const char* section, const char* key) const {
        return IniGetInt(section, key, -999, Ini().c_str());
    }
};

QPoint Center(const QWidget* w) {
    return w->geometry().center();
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

  private:
    MessageRecorder m_messages;  // installed for the test object's whole life
    camsim::World m_world;
    std::unique_ptr<camsim::Module> m_discovery;
    camsim::UsbSimServer m_usbSim;

    // Checks the arrangement rules against the window's current sizes.
    static void CheckArrangement(CTivanoDlg& d) {
        const int W = d.Client()->width(), H = d.Client()->height();
        const int PW = d.Ptz()->width(), PH = d.Ptz()->height();
        QCOMPARE(d.Ptz()->pos(), QPoint(0, H - PH));
        QCOMPARE(d.Tree()->geometry(), QRect(0, 0, PW, H - PH));
        QVERIFY(!d.Ptz()->isHidden());
        QVERIFY(!d.Tree()->isHidden());
        if (d.Mode() == CTivanoDlg::kModeIp) {
            for (int i = 0; i < CTivanoDlg::kPageCount; ++i) QVERIFY(d.Page(i)->isHidden());
            for (QWidget* w :
                 {static_cast<QWidget*>(d.InstructionText()),
                  static_cast<QWidget*>(d.RestoreButton()), static_cast<QWidget*>(d.ExportButton()),
                  static_cast<QWidget*>(d.ImportButton()),
                  static_cast<QWidget*>(d.RefreshButton())})
                QVERIFY(w->isHidden());
            const int L = PW + 5, T = 2, A = W - L - 10, B = H - T - 10;
            if (d.Layout() == 2) {
                for (int i = 0; i < 4; ++i) {
                    QCOMPARE(
                        d.PaneControl(i)->geometry(),
                        QRect(L + (i % 2) * (A / 2 + 5), T + (i / 2) * (B / 2 + 5), A / 2, B / 2));
                    QVERIFY(!d.PaneControl(i)->isHidden());
                }
            } else {
                QCOMPARE(d.PaneControl(0)->geometry(), QRect(L, T, A, B));
                QVERIFY(!d.PaneControl(0)->isHidden());
                for (int i = 1; i < 4; ++i) QVERIFY(d.PaneControl(i)->isHidden());
            }
            return;
        }
        for (int i = 0; i < 4; ++i) QVERIFY(d.PaneControl(i)->isHidden());
        const QWidget* ins = d.InstructionText();
        QCOMPARE(ins->pos(), QPoint(W - ins->width(), H - ins->height() - 10));
        const QWidget* restore = d.RestoreButton();
        const int Y = ins->y() - restore->height() - 10;
        QCOMPARE(restore->pos(), QPoint(W - restore->width() - 10, Y));
        const QWidget* refresh = d.RefreshButton();
        QCOMPARE(refresh->pos(), QPoint(restore->x() - refresh->width() - 10, Y));
        const QWidget* exp = d.ExportButton();
        QCOMPARE(exp->pos(), QPoint(refresh->x() - exp->width() - 20, Y));
        const QWidget* imp = d.ImportButton();
        QCOMPARE(imp->pos(), QPoint(exp->x() - imp->width() - 10, Y));
        QVERIFY(restore->isEnabled());
        QVERIFY(!exp->isEnabled());
        QVERIFY(!imp->isEnabled());
        QVERIFY(!refresh->isEnabled());

        const int X0 = PW + 10;
        const QSize pic = d.Page(CTivanoDlg::kPicture)->size();
        const QSize ex = d.Page(CTivanoDlg::kExposure)->size();
        const QSize wb = d.Page(CTivanoDlg::kWhiteBalance)->size();
        QCOMPARE(d.Page(CTivanoDlg::kPicture)->pos(), QPoint(X0, 10));
        QCOMPARE(d.Page(CTivanoDlg::kExposure)->pos(), QPoint(X0 + pic.width(), 10));
        QCOMPARE(d.Page(CTivanoDlg::kWhiteBalance)->pos(),
                 QPoint(X0 + pic.width() + ex.width(), 10));
        QCOMPARE(d.Page(CTivanoDlg::kEnhance)->pos(), QPoint(X0, pic.height() + 10));
        QCOMPARE(d.Page(CTivanoDlg::kFocus)->pos(), QPoint(X0 + pic.width(), ex.height() + 10));
        QCOMPARE(d.Page(CTivanoDlg::kVideo)->pos(),
                 QPoint(X0 + pic.width() + ex.width(), wb.height() + 10));
        for (int i = 0; i < CTivanoDlg::kPageCount; ++i) {
            QVERIFY(!d.Page(i)->isHidden());
            QCOMPARE(d.Page(i)->Host(), static_cast<IParamHost*>(&d));
            QVERIFY(d.Page(i)->IsMainWindowHost());
        }
        // Each page is its own template.
        QCOMPARE(d.Page(CTivanoDlg::kFocus)->TemplateId(), 267);
        QCOMPARE(d.Page(CTivanoDlg::kEnhance)->TemplateId(), 271);
    }

    static QTreeWidgetItem* WaitForFill(CTivanoDlg& d) {
        QSignalSpy filled(&d, &CTivanoDlg::DeviceTreeRefreshed);
        if (!filled.wait(8000))
            return nullptr;
        return d.FoundItem();
    }

  private slots:
    void initTestCase() {
        for (int i = 0; i < kNetCameras; ++i) {
            camsim::NetCamera c;
            c.address = camsim::NetCameraAddress(i);
            c.name = "GUI-" + std::to_string(i);
            c.identity = "GUI-ID-" + std::to_string(i);
            m_world.net.push_back(c);
        }
        m_discovery = camsim::MakeDiscoveryModule();
        QVERIFY(m_discovery->Start(m_world));

        std::vector<camsim::UsbCamera> usb;
        for (const char* name : kUsbNames) {
            camsim::UsbCamera c;
            c.name = name;
            c.model = "TV-U200";
            c.serial = "SN0001";
            c.buildDate = "2026-10-01";
            c.state = std::make_shared<camsim::CameraModel>(c.name);
            usb.push_back(c);
        }
        const int port = m_usbSim.Start(usb);
        QVERIFY(port > 0);
        const std::string endpoint = "127.0.0.1:" + std::to_string(port);
        setenv("STREVO_HID_SIM", endpoint.c_str(), 1);
    }

    void cleanupTestCase() {
        m_usbSim.Stop();
        if (m_discovery)
            m_discovery->Stop();
    }

    void init() { m_messages.texts.clear(); }

    // No file: IP mode with four panes, greyed upgrade, the About item last.
    void ipModeSetUp() {
        ModuleDir dir;
        CTivanoDlg d(dir.Path());
        QCOMPARE(d.Mode(), 0);
        QCOMPARE(d.Layout(), 2);
        QVERIFY(d.MenuItem(0)->isEnabled());
        QVERIFY(d.MenuItem(1)->isEnabled());
        QVERIFY(d.MenuItem(2)->isEnabled());
        QVERIFY(!d.MenuItem(3)->isEnabled());
        QCOMPARE(d.MenuItem(1)->text(), QStringLiteral("配置"));
        QCOMPARE(d.MenuItem(3)->text(), QStringLiteral("升级"));
        const QList<QAction*> bar = d.menuBar()->actions();
        QCOMPARE(bar.last(), d.AboutItem());
        QCOMPARE(d.AboutItem()->text(), QStringLiteral("关于 Tivano(&A)..."));
        QVERIFY(d.AboutItem()->isEnabled());
        QVERIFY(!d.windowIcon().isNull());
        QCOMPARE(d.ConfigPath(), dir.Path() + "toolscfg.ini");

        QCOMPARE(d.Tree()->topLevelItemCount(), 1);
        QCOMPARE(d.RootItem()->text(0), QStringLiteral("设备列表"));
        QCOMPARE(d.FoundItem()->parent(), d.RootItem());
        QCOMPARE(d.FoundItem()->text(0), QStringLiteral("搜索到的设备"));
        QVERIFY(d.RootItem()->isExpanded());
        // Arranged before it is ever shown.
        CheckArrangement(d);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        CheckArrangement(d);
    }

    // A configured USB mode (any non-zero value): greyed IP items, pages shown,
    // parameter buttons disabled; the value survives the run unchanged.
    // The program icon reads each size's file only when asked for, and gives
    // what Qt's own icon of the same files gives, at every size and look.
    void programIconAsQtsOwn() {
        QIcon qts;
        for (int side : {16, 32, 48, 256})
            qts.addFile(QStringLiteral(":/icons/strevo_%1.png").arg(side), QSize(side, side));
        const QIcon icon = ProgramIcon();
        QCOMPARE(icon.availableSizes(), qts.availableSizes());
        for (const QSize size :
             {QSize(16, 16), QSize(20, 20), QSize(32, 32), QSize(40, 40), QSize(48, 48),
              QSize(64, 64), QSize(256, 256), QSize(300, 300), QSize(32, 16)})
            for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Active}) {
                QCOMPARE(icon.actualSize(size, mode), qts.actualSize(size, mode));
                QCOMPARE(icon.pixmap(size, mode).toImage(), qts.pixmap(size, mode).toImage());
            }
    }

    void usbModeSetUpKeepsMode2() {
        ModuleDir dir;
        dir.Write("[SEARCH_MODE]\nMode=2\n[LOG]\nLevel=3\n[VID]\nSRC1=0x1704\n");
        {
            CTivanoDlg d(dir.Path());
            QCOMPARE(d.Mode(), 2);
            QVERIFY(!d.MenuItem(1)->isEnabled());
            QVERIFY(!d.MenuItem(2)->isEnabled());
            QVERIFY(d.MenuItem(3)->isEnabled());
            QCOMPARE(d.Usb().GetVendorIdCount(), 2);
            QCOMPARE(d.Usb().GetVendorIds()[1], 0x1704);
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            CheckArrangement(d);
        }
        QCOMPARE(dir.Get("SEARCH_MODE", "Mode"), 2);
        // Sections the program never writes are kept.
        QCOMPARE(dir.Get("LOG", "Level"), 3);
    }

    void modeSwitchesAreSaved() {
        ModuleDir dir;
        dir.Write("[SEARCH_MODE]\nMode=2\n");
        {
            CTivanoDlg d(dir.Path());
            d.OnModeIp();
            QCOMPARE(d.Mode(), 0);
        }
        QCOMPARE(dir.Get("SEARCH_MODE", "Mode"), 0);
        {
            CTivanoDlg d(dir.Path());
            QCOMPARE(d.Mode(), 0);
            d.OnModeUsb();
            QCOMPARE(d.Mode(), 1);
        }
        QCOMPARE(dir.Get("SEARCH_MODE", "Mode"), 1);
    }

    void arrangementInEveryModeAndLayout() {
        ModuleDir dir;
        CTivanoDlg d(dir.Path());
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        for (QSize size : {QSize(1100, 700), QSize(1400, 900)}) {
            d.resize(size);
            QTRY_COMPARE(d.size(), size);
            d.OnModeIp();
            d.OnLayout(2);
            CheckArrangement(d);
            d.OnLayout(1);
            CheckArrangement(d);
            d.OnModeUsb();
            CheckArrangement(d);
            // The layout is kept while in USB mode and used again in IP mode.
            d.OnModeIp();
            QCOMPARE(d.Layout(), 1);
            CheckArrangement(d);
            d.OnLayout(2);
        }
        // A resize by the operator rearranges on its own.
        d.OnModeUsb();
        d.resize(1200, 760);
        QTRY_COMPARE(d.size(), QSize(1200, 760));
        CheckArrangement(d);
    }

    void windowSizeRoundTrip() {
        ModuleDir dir;
        QSize templateSize;
        {
            CTivanoDlg d(dir.Path());  // no file: the template's size
            templateSize = d.size();
        }
        QCOMPARE(dir.Get("WIN_SIZE", "Width"), templateSize.width());
        QCOMPARE(dir.Get("WIN_SIZE", "Height"), templateSize.height());
        QCOMPARE(dir.Get("SEARCH_MODE", "Mode"), 0);

        dir.Write("[WIN_SIZE]\nWidth=1234\nHeight=777\n");
        {
            CTivanoDlg d(dir.Path());
            QCOMPARE(d.size(), QSize(1234, 777));
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            QCOMPARE(d.size(), QSize(1234, 777));
            CheckArrangement(d);
            d.resize(1111, 666);
            QTRY_COMPARE(d.size(), QSize(1111, 666));
        }
        QCOMPARE(dir.Get("WIN_SIZE", "Width"), 1111);
        QCOMPARE(dir.Get("WIN_SIZE", "Height"), 666);

        // Zero or negative sizes leave the template's size.
        dir.Write("[WIN_SIZE]\nWidth=0\nHeight=900\n");
        CTivanoDlg d(dir.Path());
        QCOMPARE(d.size(), templateSize);
    }

    // 25 cameras answer; the tree shows 20 of them, by address.
    void ipTreeFromDiscovery() {
        ModuleDir dir;
        RecordingDlg d(dir.Path());
        d.show();
        QTreeWidgetItem* found = WaitForFill(d);
        QVERIFY(found);
        QCOMPARE(found->childCount(), CTivanoDlg::kMaxIpDevices);
        QCOMPARE(static_cast<int>(d.Nodes().size()), CTivanoDlg::kMaxIpDevices);
        QSet<QString> seen;
        for (int i = 0; i < found->childCount(); ++i) {
            const QString text = found->child(i)->text(0);
            QVERIFY2(text.startsWith(QLatin1String("127.0.0.")), qPrintable(text));
            seen.insert(text);
            QCOMPARE(d.Nodes()[static_cast<size_t>(i)].item, found->child(i));
            QCOMPARE(QString::fromUtf8(d.Nodes()[static_cast<size_t>(i)].ip), text);
            QVERIFY(!d.Nodes()[static_cast<size_t>(i)].usb);
        }
        QCOMPARE(seen.size(), CTivanoDlg::kMaxIpDevices);
        QVERIFY(found->isExpanded());

        // Double-clicking a camera logs in to it with the fixed account.
        QTreeWidgetItem* cam = found->child(3);
        d.Tree()->scrollToItem(cam);
        const QPoint at = d.Tree()->visualItemRect(cam).center();
        QTest::mouseClick(d.Tree()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(d.Tree()->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(static_cast<int>(d.previews.size()), 1);
        QCOMPARE(QString::fromLatin1(d.previews[0].ip), cam->text(0));
        QCOMPARE(d.previews[0].port, 36666);
        QCOMPARE(QByteArray(d.previews[0].user), QByteArray("admin"));
        QCOMPARE(QByteArray(d.previews[0].password), QByteArray("quolt"));

        // The roots only fold and unfold.
        for (QTreeWidgetItem* root : {d.FoundItem(), d.RootItem()}) {
            const QPoint r = d.Tree()->visualItemRect(root).center();
            QTest::mouseClick(d.Tree()->viewport(), Qt::LeftButton, {}, r);
            QTest::mouseDClick(d.Tree()->viewport(), Qt::LeftButton, {}, r);
            QVERIFY(!root->isExpanded());
            QTest::mouseDClick(d.Tree()->viewport(), Qt::LeftButton, {}, r);
            QVERIFY(root->isExpanded());
        }
        QCOMPARE(static_cast<int>(d.previews.size()), 1);
        QVERIFY(d.reads.empty());

        // "刷新列表" refills in place.
        d.OnRefreshList();
        QCOMPARE(found->childCount(), CTivanoDlg::kMaxIpDevices);
        QCOMPARE(d.Tree()->topLevelItemCount(), 1);
    }

    // USB mode lists camsim's cameras by name; switching to IP closes them.
    void usbTreeFromCamsim() {
        ModuleDir dir;
        dir.Write("[SEARCH_MODE]\nMode=1\n");
        RecordingDlg d(dir.Path());
        d.show();
        QTreeWidgetItem* found = WaitForFill(d);
        QVERIFY(found);
        QCOMPARE(found->childCount(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(found->child(i)->text(0), QString::fromUtf8(kUsbNames[i]));
            const DeviceNode& node = d.Nodes()[static_cast<size_t>(i)];
            QCOMPARE(node.usb, d.Usb().GetEntry(i).handle);
            QVERIFY(node.usb);
            QCOMPARE(node.ip[0], '\0');
        }
        QCOMPARE(d.SelectedUsbDevice(), nullptr);

        QTreeWidgetItem* cam = found->child(1);
        const QPoint at = d.Tree()->visualItemRect(cam).center();
        QTest::mouseClick(d.Tree()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(d.Tree()->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(static_cast<int>(d.reads.size()), 1);
        QCOMPARE(d.reads[0], d.Nodes()[1].usb);
        const QPoint root = d.Tree()->visualItemRect(d.RootItem()).center();
        QTest::mouseClick(d.Tree()->viewport(), Qt::LeftButton, {}, root);
        QTest::mouseDClick(d.Tree()->viewport(), Qt::LeftButton, {}, root);
        QCOMPARE(static_cast<int>(d.reads.size()), 1);
        QVERIFY(d.previews.empty());
        // Nothing selected: page writes are not sent anywhere.
        QCOMPARE(d.SetVideoParamItem("\"Brightness\":10"), 0);
        QCOMPARE(d.GetFocusNear(), 0);

        d.OnModeIp();
        QCOMPARE(d.Usb().GetCount(), 0);
        for (const DeviceNode& node : d.Nodes()) QVERIFY(!node.usb);
        QVERIFY(d.MenuItem(1)->isEnabled());
        QVERIFY(!d.MenuItem(3)->isEnabled());
        CheckArrangement(d);
    }

    void enterAndEscapeDoNothing() {
        ModuleDir dir;
        CTivanoDlg d(dir.Path());
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            press.ignore();
            QApplication::sendEvent(&d, &press);
            QVERIFY(press.isAccepted());
            for (QWidget* target : {static_cast<QWidget*>(d.Tree()), static_cast<QWidget*>(d.Ptz()),
                                    static_cast<QWidget*>(d.RestoreButton()),
                                    static_cast<QWidget*>(d.PaneControl(0))}) {
                QTest::keyClick(target, static_cast<Qt::Key>(key));
                QVERIFY(d.isVisible());
            }
        }
        QVERIFY(m_messages.texts.empty());
    }

    void contextMenusByRegion() {
        ModuleDir dir;
        CTivanoDlg d(dir.Path());
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));

        QCOMPARE(d.ContextMenuAt(Center(d.Tree())), d.DevListMenu());
        QCOMPARE(d.ContextPane(), -1);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(d.ContextMenuAt(Center(d.PaneControl(i))), d.VideoMenu());
            QCOMPARE(d.ContextPane(), i);
        }
        // On the PTZ panel and in the gaps between panes: nothing.
        QCOMPARE(d.ContextMenuAt(Center(d.Ptz())), nullptr);
        QCOMPARE(d.ContextPane(), -1);
        const QRect p0 = d.PaneControl(0)->geometry();
        QCOMPARE(d.ContextMenuAt(QPoint(p0.right() + 3, p0.center().y())), nullptr);

        d.OnLayout(1);
        QCOMPARE(d.ContextMenuAt(Center(d.PaneControl(0))), d.VideoMenu());
        QCOMPARE(d.ContextPane(), 0);

        // USB mode: the tree still has its menu; the pages get none.
        d.OnModeUsb();
        QCOMPARE(d.ContextMenuAt(Center(d.Tree())), d.DevListMenu());
        QCOMPARE(d.ContextMenuAt(Center(d.Page(CTivanoDlg::kPicture))), nullptr);
        QCOMPARE(d.ContextPane(), -1);
        d.OnModeIp();
        d.OnLayout(2);

        // A real right-click on the tree reaches the window and pops the menu.
        QWidget* vp = d.Tree()->viewport();
        const QPoint local(5, vp->height() - 5);
        QContextMenuEvent ev(QContextMenuEvent::Mouse, local, vp->mapToGlobal(local));
        QApplication::sendEvent(vp, &ev);
        QTRY_COMPARE(QApplication::activePopupWidget(), static_cast<QWidget*>(d.DevListMenu()));
        d.DevListMenu()->close();
        QCOMPARE(d.DevListMenu()->actions().value(0)->text(), QStringLiteral("刷新列表"));
        QCOMPARE(d.VideoMenu()->actions().value(0)->text(), QStringLiteral("关闭视频"));
        QCOMPARE(d.VideoMenu()->actions().value(1)->text(), QStringLiteral("关闭所有视频"));
        QCOMPARE(d.VideoMenu()->actions().value(3)->text(), QStringLiteral("截图"));
    }

    void aboutBoxFromMenuBar() {
        ModuleDir dir;
        CTivanoDlg d(dir.Path());
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QString caption;
        QTimer::singleShot(0, [&caption] {
            QWidget* box = QApplication::activeModalWidget();
            QVERIFY(box);
            caption = box->windowTitle();
            box->close();
        });
        d.AboutItem()->trigger();
        QCOMPARE(caption, QStringLiteral("关于 Tivano"));
    }

    // The menu items reach their commands (by their command ids).
    void menuCommandsAreWired() {
        ModuleDir dir;
        CTivanoDlg d(dir.Path());
        auto command = [&d](int id) -> QAction* {
            for (QAction* a : d.findChildren<QAction*>())
                if (a->property("cmdId").toInt() == id)
                    return a;
            return nullptr;
        };
        QVERIFY(command(32822) && command(32823) && command(32818) && command(32819));
        command(32822)->trigger();
        QCOMPARE(d.Layout(), 1);
        CheckArrangement(d);
        command(32823)->trigger();
        QCOMPARE(d.Layout(), 2);
        command(32819)->trigger();
        QCOMPARE(d.Mode(), 1);
        QVERIFY(!d.MenuItem(2)->isEnabled());
        CheckArrangement(d);
        command(32818)->trigger();
        QCOMPARE(d.Mode(), 0);
        QSignalSpy refreshed(&d, &CTivanoDlg::DeviceTreeRefreshed);
        command(32824)->trigger();
        QCOMPARE(refreshed.count(), 1);
        command(32830)->trigger();  // the upgrade dialog is not there yet: nothing happens
        QVERIFY(m_messages.texts.empty());
    }

    void configWithoutPaneSaysNothingSelected() {
        ModuleDir dir;
        CTivanoDlg d(dir.Path());
        d.MenuItem(1)->trigger();
        QCOMPARE(m_messages.texts.size(), size_t(1));
        QCOMPARE(QString::fromStdString(m_messages.texts[0]), QStringLiteral("未选中！"));
    }

    // A click selects the pane, retargets the PTZ panel and moves the red frame.
    void paneClickSelectsAndFrames() {
        ModuleDir dir;
        CTivanoDlg d(dir.Path());
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.SelectedPane(), 0);
        QTest::mouseClick(d.PaneControl(3), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(d.SelectedPane(), 3);
        QCOMPARE(d.Ptz()->TargetId(), intptr_t(-1));
        QCOMPARE(QByteArray(d.Ptz()->TargetAddress()), QByteArray());
        QCOMPARE(d.Ptz()->TargetPort(), 0);
        QCOMPARE(d.Pane(3).login, -1);

        const QImage img = d.Client()->grab().toImage();
        const QColor red(255, 0, 0), black(0, 0, 0);
        for (int i = 0; i < 4; ++i) {
            const QRect r = d.PaneControl(i)->geometry();
            const QColor want = i == 3 ? red : black;
            // Left edge, just outside the pane, and the bottom edge.
            QCOMPARE(img.pixelColor(r.x() - 1, r.center().y()), want);
            QCOMPARE(img.pixelColor(r.center().x(), r.y() + r.height() + 1), want);
        }

        // The gamepad's shoulder buttons go round the layout's panes.
        d.StepPane(1);
        QCOMPARE(d.SelectedPane(), 0);
        d.StepPane(-1);
        QCOMPARE(d.SelectedPane(), 3);

        // Going to one pane selects the pane that stays visible.
        d.OnLayout(1);
        QCOMPARE(d.SelectedPane(), 0);
        d.StepPane(1);
        QCOMPARE(d.SelectedPane(), 0);
        d.OnLayout(2);
        QCOMPARE(d.SelectedPane(), 0);

        // USB mode draws no frames, and has no panes to step through.
        d.OnModeUsb();
        d.StepPane(1);
        QCOMPARE(d.SelectedPane(), 0);
        const QImage usb = d.Client()->grab().toImage();
        const QRect r = d.PaneControl(3)->geometry();
        QVERIFY(usb.pixelColor(r.x() - 1, r.center().y()) != red);
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
