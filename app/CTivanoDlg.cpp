#include "CTivanoDlg.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <cstring>

#include "AboutDlg.h"
#include "CAddedCameras.h"
#include "CEnhanceTab.h"
#include "CExposureTab.h"
#include "CFocusTab.h"
#include "CPaneStream.h"
#include "CParamPage.h"
#include "CPictureTab.h"
#include "CPreviewPane.h"
#include "CPtzCtrl.h"
#include "CPtzGamepad.h"
#include "CPtzKeys.h"
#include "CTivanoApp.h"
#include "CUpgradeDlg.h"
#include "CVideoTab.h"
#include "CWhiteBalanceTab.h"
#include "DialogUnits.h"
#include "KLogLibrary.h"
#include "LogSetup.h"
#include "ModulePath.h"
#include "NetCommands.h"
#include "OperatorMessages.h"
#include "ParamButtons.h"
#include "ProcessMemory.h"
#include "StoredText.h"
#include "VideoParam.h"
#include "movra.h"
#include "scanlet.h"
#include "OnvifScanner.h"
#include "ui_dlg_102.h"

namespace strevo {

namespace {

// Copies a NUL-terminated text into a fixed field, cutting it to fit.
template <size_t N>
void CopyText(char (&dst)[N], const char* src, size_t srcSize = N - 1) {
    std::memset(dst, 0, N);
    if (src)
        std::memcpy(dst, src, strnlen(src, std::min(N - 1, srcSize)));
}

}  // namespace

CTivanoDlg::CTivanoDlg(const std::string& moduleDir, std::shared_ptr<IHidBackend> hid,
                       QWidget* parent)
    : QMainWindow(parent), m_ui(std::make_unique<Ui::Dlg102>()), m_usb(std::move(hid)) {
    // 1. The template, scaled to this font; the About item; the icons.
    m_ui->setupUi(this);
    SetUpMenus();
    ScaleDialogUnits(this, DefaultDialogFont());
    setWindowIcon(ProgramIcon());
    m_paneCtrls = {m_ui->video0, m_ui->video1, m_ui->video2, m_ui->video3};
    for (size_t i = 0; i < m_paneCtrls.size(); ++i) {
        m_paneCtrls[i]->installEventFilter(this);
        m_pictures[i] = new CPreviewPane(m_paneCtrls[i]);
    }
    Client()->installEventFilter(this);

    // 2. Where the program lives, its configuration and its log: beside it,
    // or in the user's folders when it is installed.
    m_moduleDir = moduleDir.empty() ? ModuleDirectory() : moduleDir;
    if (!m_moduleDir.empty() && m_moduleDir.back() != kPathSeparator && m_moduleDir.back() != '/')
        m_moduleDir += kPathSeparator;
    const SettingsLocation where =
        moduleDir.empty() ? ProgramSettingsLocation(m_moduleDir) : SettingsBeside(m_moduleDir);
    MakeSettingsFolders(where);
    m_configPath = where.configPath;
    m_logDir = where.logDir;
    m_config = ToolConfig(m_configPath);
    SetUpLogging(ProgramLog(), where);

    // 3. Settings: mode and window size.
    ToolSettings settings;
    std::memset(&settings, 0, sizeof settings);
    m_config.Load(settings);
    m_nMode = settings.mode;
    if (settings.width > 0 && settings.height > 0)
        resize(settings.width, settings.height);

    // 4. Tree roots.
    QTreeWidget* tree = Tree();
    m_rootItem = new QTreeWidgetItem(QStringList{QStringLiteral("设备列表")});
    tree->addTopLevelItem(m_rootItem);
    m_foundItem = new QTreeWidgetItem(m_rootItem, QStringList{QStringLiteral("搜索到的设备")});
    m_rootItem->setExpanded(true);
    m_added = new CAddedCameras(tree, m_rootItem, DevListMenu(), m_configPath, this);
    tree->setExpandsOnDoubleClick(true);
    connect(tree, &QTreeWidget::itemDoubleClicked, this, [this] { OnTreeDoubleClick(); });

    // 5. PTZ panel.
    m_ptz = new CPtzCtrl(Client());
    m_ptz->show();
    ShowPtzFor(m_panes[0]);
    // Keys and a gamepad drive the same panel; the shoulder buttons pick panes.
    m_ptzKeys = new CPtzKeys(m_ptz, this);
    m_gamepad = new CPtzGamepad(m_ptz, this);
    m_gamepad->onPaneStep = [this](int delta) { StepPane(delta); };
    m_gamepad->Start(LoadGamepadSettings(m_configPath.c_str()));

    // 6. Parameter pages, hidden until USB mode places them.
    auto addPage = [this](PageIndex index, CParamPage* page) {
        page->hide();
        page->SetHost(this, true);
        m_pages[static_cast<size_t>(index)] = page;
    };
    addPage(kPicture, new CPictureTab(Client()));
    addPage(kExposure, new CExposureTab(Client()));
    addPage(kWhiteBalance, new CWhiteBalanceTab(Client()));
    addPage(kEnhance, new CEnhanceTab(Client()));
    addPage(kFocus, new CFocusTab(Client()));
    addPage(kVideo, new CVideoTab(Client()));

    // Snapshot item of the pane menu; the many-camera import beside "导入配置".
    SetUpTools();
    // ONVIF cameras in the tree, their reboot, the preset list.
    SetUpOnvif();

    // 7. Instruction text font.
    QFont instructionFont = InstructionText()->font();
    instructionFont.setFamilies({QStringLiteral("黑体"), QStringLiteral("SimHei"),
                                 QStringLiteral("WenQuanYi Micro Hei"),
                                 QStringLiteral("Noto Sans CJK SC")});
    instructionFont.setPointSize(10);
    InstructionText()->setFont(instructionFont);
    // The text stays whole in this font.
    InstructionText()->resize(InstructionText()->size().expandedTo(InstructionText()->sizeHint()));

    // 8. Arrangement for the configured mode. The window is not shown yet, so
    // lay out the menu bar and client area now to know the client size.
    layout()->activate();
    ArrangeControls(m_nLayout);

    // 9. Menu states.
    SetMenuStates(m_nMode != kModeIp);

    // 10. Network camera SDK and discovery (which also starts the sockets).
    PELION_Init(0);
    BSC_Init();

    // 11. USB vendor ids.
    const int idCount = std::clamp<int>(settings.vendorIdCount, 0, ToolConfig::kMaxVendorIds);
    m_usb.SetVendorIds(idCount, settings.vendorIds);

    // 12. Timer 1001: the first fill waits until discovery has had answers.
    m_treeFillTimer.setSingleShot(true);
    m_treeFillTimer.setInterval(kTreeFillDelayMs);
    connect(&m_treeFillTimer, &QTimer::timeout, this, [this] { OnTreeFillTimer(); });
    m_treeFillTimer.start();

    // 13.
    m_clientSize = Client()->size();
    m_bSetupDone = true;
}

CTivanoDlg::~CTivanoDlg() {
    Shutdown();
}

void CTivanoDlg::SetUpMenus() {
    connect(m_ui->actionIp, &QAction::triggered, this, [this] { OnModeIp(); });
    connect(m_ui->actionUsb, &QAction::triggered, this, [this] { OnModeUsb(); });
    connect(m_ui->actionConfig, &QAction::triggered, this, [this] { OnConfig(); });
    connect(m_ui->action1x1, &QAction::triggered, this, [this] { OnLayout(1); });
    connect(m_ui->action2x2, &QAction::triggered, this, [this] { OnLayout(2); });
    connect(m_ui->actionUpgrade, &QAction::triggered, this, [this] { OnUpgrade(); });
    connect(m_ui->actionRefreshList, &QAction::triggered, this, [this] { OnRefreshList(); });
    connect(m_ui->actionCloseVideo, &QAction::triggered, this, [this] { OnCloseVideo(); });
    connect(m_ui->actionCloseAllVideo, &QAction::triggered, this, [this] { OnCloseAllVideo(); });
    connect(m_ui->btnRestoreDefault, &QPushButton::clicked, this, [this] { OnRestoreDefault(); });
    connect(m_ui->btnExport, &QPushButton::clicked, this, [this] { OnExportParams(); });
    connect(m_ui->btnImport, &QPushButton::clicked, this, [this] { OnImportParams(); });
    connect(m_ui->btnRefresh, &QPushButton::clicked, this, [this] { OnRefreshParams(); });

    // There is no system menu here: the About item goes last in the menu bar.
    m_ui->menubar->addSeparator();
    m_aboutItem = m_ui->menubar->addAction(QStringLiteral("关于 Tivano(&A)..."));
    m_aboutItem->setProperty("cmdId", kAboutCommand);
    connect(m_aboutItem, &QAction::triggered, this, [this] { OnAbout(); });
}

void CTivanoDlg::SetMenuStates(bool usb) {
    MenuItem(1)->setEnabled(!usb);
    MenuItem(2)->setEnabled(!usb);
    MenuItem(3)->setEnabled(usb);
}

QWidget* CTivanoDlg::Client() const {
    return m_ui->centralwidget;
}
QTreeWidget* CTivanoDlg::Tree() const {
    return m_ui->treeDevices;
}
QLabel* CTivanoDlg::InstructionText() const {
    return m_ui->lblInstruction;
}
QPushButton* CTivanoDlg::RestoreButton() const {
    return m_ui->btnRestoreDefault;
}
QPushButton* CTivanoDlg::ExportButton() const {
    return m_ui->btnExport;
}
QPushButton* CTivanoDlg::ImportButton() const {
    return m_ui->btnImport;
}
QPushButton* CTivanoDlg::RefreshButton() const {
    return m_ui->btnRefresh;
}
QMenu* CTivanoDlg::DevListMenu() const {
    return m_ui->menuDevList;
}
QMenu* CTivanoDlg::VideoMenu() const {
    return m_ui->menuVideo;
}

QAction* CTivanoDlg::MenuItem(int position) const {
    switch (position) {
        case 0:
            return m_ui->menuComm->menuAction();
        case 1:
            return m_ui->actionConfig;
        case 2:
            return m_ui->menuView->menuAction();
        case 3:
            return m_ui->actionUpgrade;
        default:
            return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Device tree

void CTivanoDlg::RefreshDeviceTree() {
    m_nodes.clear();
    qDeleteAll(m_foundItem->takeChildren());

    if (m_nMode == kModeIp) {
        int n = std::min(BSC_GetNum(), kMaxIpDevices);
        if (n > 0) {
            DeviceInfo found[kMaxIpDevices];
            std::memset(found, 0, sizeof found);
            int count = n;
            if (BSC_GetDevInfo(found, &count) != 1)
                count = 0;
            count = std::clamp(count, 0, n);
            for (int i = 0; i < count; ++i) {
                DeviceNode node;
                node.sdk = true;
                CopyText(node.ip, found[i].address);
                node.item =
                    new QTreeWidgetItem(m_foundItem, QStringList{QString::fromUtf8(node.ip)});
                m_nodes.push_back(node);
            }
        }
        AddOnvifNodes();
    } else {
        CommitPageEdits();
        m_selectedUsb = nullptr;
        m_usb.RefreshDevices();
        for (const UsbDeviceEntry& entry : m_usb.Entries()) {
            DeviceNode node;
            node.usb = entry.handle;
            CopyText(node.name, entry.name);
            node.item =
                new QTreeWidgetItem(m_foundItem, QStringList{StoredNameToDisplay(node.name)});
            m_nodes.push_back(node);
        }
    }
    m_foundItem->setExpanded(true);
    m_added->SetVisible(m_nMode == kModeIp);
    emit DeviceTreeRefreshed();
}

void CTivanoDlg::OnTreeFillTimer() {
    RefreshDeviceTree();
}

void CTivanoDlg::OnRefreshList() {
    RefreshDeviceTree();
}

void CTivanoDlg::OnTreeDoubleClick() {
    // The tree still expands or collapses the item on its own.
    const QTreeWidgetItem* selected = Tree()->currentItem();
    if (!selected)
        return;
    auto it = std::find_if(m_nodes.begin(), m_nodes.end(),
                           [selected](const DeviceNode& n) { return n.item == selected; });
    if (it == m_nodes.end()) {
        if (const AddedCamera* added = m_added->Find(selected); added && m_nMode == kModeIp)
            OpenAddedCamera(*added);
        return;  // otherwise a root or the found-devices item
    }
    if (m_nMode == kModeIp) {
        // Our SDK wins where a camera speaks both: it has everything.
        if (it->sdk)
            OpenPreview(ProgramLoginInfo(it->ip), 0);
        else if (auto camera = OnvifCameraOf(it->item))
            OpenCamera(std::move(camera), 0);
    } else {
        ReadUsbCameraParams(*it);
    }
}

void CTivanoDlg::ReadUsbCameraParams(const DeviceNode& node) {
    // Until this read succeeds no camera is selected, so the pages' edits go nowhere.
    m_selectedUsb = nullptr;
    VideoParam p{};
    const int32_t rc = m_usb.GetVideoParam(node.usb, &p);
    if (rc != 0) {
        ShowMessage("获取图像参数失败: %d.", rc);
        return;
    }
    ShowVideoParam(p);
    m_selectedUsb = node.usb;
    m_ptz->SetControl(nullptr);
    m_ptz->SetTarget(reinterpret_cast<intptr_t>(node.usb), "", 0);
    ExportButton()->setEnabled(true);
    ImportButton()->setEnabled(true);
    RefreshButton()->setEnabled(true);
}

// ---------------------------------------------------------------------------
// Arrangement

void CTivanoDlg::ArrangeControls(int layout) {
    // USB mode never gets smaller than its arrangement; this may grow the
    // window (and rearrange it) before the sizes below are taken.
    SetClientMinimum(m_nMode == kModeIp ? QSize(0, 0) : UsbMinimumClientSize());
    const int W = Client()->width();
    const int H = Client()->height();
    const int PW = m_ptz->width();
    PlaceLeftColumn();

    QLabel* instruction = InstructionText();
    QPushButton* restore = RestoreButton();
    QPushButton* refresh = RefreshButton();
    QPushButton* exportBtn = ExportButton();
    QPushButton* importBtn = ImportButton();

    if (m_nMode == kModeIp) {
        for (CParamPage* page : m_pages) page->hide();
        for (QWidget* w : {static_cast<QWidget*>(instruction), static_cast<QWidget*>(restore),
                           static_cast<QWidget*>(refresh), static_cast<QWidget*>(exportBtn),
                           static_cast<QWidget*>(importBtn), static_cast<QWidget*>(m_importMany)})
            w->hide();
        const int L = PW + 5;
        const int T = 2;
        const int A = W - L - 10;
        const int B = H - T - 10;
        if (layout == 2) {
            for (int i = 0; i < kPaneCount; ++i) {
                QLabel* pane = m_paneCtrls[static_cast<size_t>(i)];
                pane->setGeometry(L + (i % 2) * (A / 2 + 5), T + (i / 2) * (B / 2 + 5), A / 2,
                                  B / 2);
                pane->show();
                pane->update();
            }
        } else {
            m_paneCtrls[0]->setGeometry(L, T, A, B);
            m_paneCtrls[0]->show();
            for (int i = 1; i < kPaneCount; ++i) m_paneCtrls[static_cast<size_t>(i)]->hide();
        }
        return;
    }

    for (QLabel* pane : m_paneCtrls) pane->hide();

    instruction->move(W - instruction->width(), H - instruction->height() - 10);
    instruction->show();
    const int Y = instruction->y() - restore->height() - 10;
    restore->move(W - restore->width() - 10, Y);
    refresh->move(restore->x() - refresh->width() - 10, Y);
    exportBtn->move(refresh->x() - exportBtn->width() - 20, Y);
    importBtn->move(exportBtn->x() - importBtn->width() - 10, Y);
    m_importMany->move(importBtn->x() - m_importMany->width() - 10, Y);
    for (QPushButton* b : {restore, refresh, exportBtn, importBtn, m_importMany}) {
        b->show();
        b->raise();  // never under a page, even where they meet
    }
    instruction->raise();
    exportBtn->setEnabled(false);
    importBtn->setEnabled(false);
    refresh->setEnabled(false);

    const int X0 = PW + 10;
    const QSize pic = Page(kPicture)->size();
    const QSize exp = Page(kExposure)->size();
    const QSize wb = Page(kWhiteBalance)->size();
    Page(kPicture)->move(X0, 10);
    Page(kExposure)->move(X0 + pic.width(), 10);
    Page(kWhiteBalance)->move(X0 + pic.width() + exp.width(), 10);
    Page(kEnhance)->move(X0, pic.height() + 10);
    Page(kFocus)->move(X0 + pic.width(), exp.height() + 10);
    Page(kVideo)->move(X0 + pic.width() + exp.width(), wb.height() + 10);
    for (CParamPage* page : m_pages) page->show();
}

QSize CTivanoDlg::UsbMinimumClientSize() const {
    constexpr int kMargin = 10;
    const int PW = m_ptz->width();
    const int X0 = PW + kMargin;
    const QSize pic = Page(kPicture)->size(), exp = Page(kExposure)->size();
    const QSize wb = Page(kWhiteBalance)->size(), enh = Page(kEnhance)->size();
    const QSize foc = Page(kFocus)->size(), vid = Page(kVideo)->size();
    // The pages as ArrangeControls places them: three columns, two rows.
    const int pagesRight =
        std::max({X0 + pic.width() + exp.width() + wb.width(), X0 + enh.width(),
                  X0 + pic.width() + foc.width(), X0 + pic.width() + exp.width() + vid.width()});
    const int pagesBottom =
        std::max({pic.height() + kMargin + enh.height(), exp.height() + kMargin + foc.height(),
                  wb.height() + kMargin + vid.height()});
    // Below them the button row, then the instruction text, right-aligned.
    const QWidget* ins = InstructionText();
    const int buttonH = std::max({RestoreButton()->height(), RefreshButton()->height(),
                                  ExportButton()->height(), ImportButton()->height()});
    const int buttonsW = m_importMany->width() + 10 + ImportButton()->width() + 10 +
                         ExportButton()->width() + 20 +
                         RefreshButton()->width() + 10 + RestoreButton()->width() + kMargin;
    const int width = std::max({pagesRight + kMargin, X0 + buttonsW, PW + ins->width()});
    const int height = std::max(pagesBottom + kMargin + buttonH + kMargin + ins->height() + kMargin,
                                m_ptz->height());
    return {width, height};
}

void CTivanoDlg::SetClientMinimum(const QSize& size) {
    if (Client()->minimumSize() == size)
        return;
    Client()->setMinimumSize(size);
    // Now, not at the next layout pass: the window grows at once.
    layout()->invalidate();
    layout()->activate();
}

void CTivanoDlg::InvalidateContentArea() {
    const int left = m_ptz->width() + 1;
    Client()->update(QRect(left, 0, Client()->width() - left, Client()->height()));
}

void CTivanoDlg::OnClientResized() {
    if (!m_bSetupDone)
        return;
    const QSize size = Client()->size();
    if (size == QSize(0, 0) || size == m_clientSize)
        return;
    ArrangeControls(m_nLayout);
    update();
    Client()->update();
    m_clientSize = size;
}

// ---------------------------------------------------------------------------
// Modes and layouts

void CTivanoDlg::OnModeIp() {
    CommitPageEdits();
    SetMenuStates(false);
    m_usb.CloseDevices();
    m_nMode = kModeIp;
    Client()->update();
    ArrangeControls(m_nLayout);
    RefreshDeviceTree();
}

void CTivanoDlg::OnModeUsb() {
    SetMenuStates(true);
    const int panes = m_nLayout == 1 ? 1 : kPaneCount;
    for (int i = 0; i < panes; ++i) ClosePane(i);
    m_nMode = kModeUsb;
    Client()->update();
    InvalidateContentArea();
    ArrangeControls(m_nLayout);
    RefreshDeviceTree();
}

void CTivanoDlg::OnLayout(int layout) {
    m_nLayout = layout == 1 ? 1 : 2;
    InvalidateContentArea();
    ArrangeControls(m_nLayout);
    // The one visible pane becomes the selected one, so the red frame, "配置",
    // the PTZ panel and the next preview all follow what the operator sees.
    if (m_nLayout == 1 && m_nSelectedPane != 0)
        SelectPane(0);
}

void CTivanoDlg::OnConfig() {
    const PreviewPane& pane = m_panes[static_cast<size_t>(m_nSelectedPane)];
    if (pane.stream && !(pane.stream->Camera().Caps() & kCapParams)) {
        ShowMessage("该设备不支持参数配置");
        return;
    }
    if (pane.stream) {
        if (IParamChannel* channel = pane.stream->Camera().Params()) {
            RunImageParamsDlg(channel);
            return;
        }
    }
    if (pane.login < 0) {
        ShowMessage("未选中！");
        return;
    }
    RunImageParamsDlg(pane.login);
}

void CTivanoDlg::RunImageParamsDlg(int32_t loginHandle) {
    CImageParamsDlg dlg(this);
    dlg.SetDeviceHandle(loginHandle);
    dlg.exec();
}

void CTivanoDlg::RunImageParamsDlg(IParamChannel* channel) {
    CImageParamsDlg dlg(this);
    dlg.SetChannel(channel);
    dlg.exec();
}

void CTivanoDlg::OnUpgrade() {
    RunUpgradeDlg();
}

void CTivanoDlg::RunUpgradeDlg() {
    CommitPageEdits();
    CUpgradeDlg dlg(this);
    // Cameras rebooted from an earlier run keep a closed row until the tree is
    // refreshed; listed again, they would be ticked and fail every command.
    for (const UsbDeviceEntry& entry : m_usb.Entries()) {
        if (entry.handle != nullptr && entry.handle != kInvalidUsbHandle)
            dlg.m_devices.push_back(entry);
    }
    dlg.exec();
    DropUsbHandles(dlg.ClosedHandles());
}

void CTivanoDlg::DropUsbHandles(const std::vector<UsbHandle>& closed) {
    for (UsbHandle handle : closed) {
        m_usb.DropHandle(handle);
        if (m_selectedUsb == handle)
            m_selectedUsb = nullptr;
        if (m_ptz->TargetId() == reinterpret_cast<intptr_t>(handle))
            m_ptz->SetTarget(-1, "", -1);
        for (auto it = m_nodes.begin(); it != m_nodes.end();) {
            if (it->usb == handle) {
                delete it->item;
                it = m_nodes.erase(it);
            } else {
                ++it;
            }
        }
    }
}

void CTivanoDlg::OnAbout() {
    AboutDlg about(this, m_configPath, m_logDir);
    about.exec();
}

// ---------------------------------------------------------------------------
// Hosted pages

void CTivanoDlg::ShowVideoParam(const VideoParam& param) {
    for (int i : {kPicture, kExposure, kWhiteBalance, kFocus, kEnhance, kVideo})
        Page(i)->ShowParams(param);
}

int32_t CTivanoDlg::SetVideoParamItem(const char* items) {
    if (!m_selectedUsb)
        return 0;
    return m_usb.SetVideoParamItem(m_selectedUsb, items);
}

int32_t CTivanoDlg::GetFocusNear() {
    if (!m_selectedUsb)
        return 0;
    return m_usb.GetFocusNear(m_selectedUsb);
}

// ---------------------------------------------------------------------------
// Parameter buttons (USB mode). After "刷新列表" nothing is selected while the
// buttons may still be enabled: they then run on handle 0, which the
// transport refuses with its message.

ParamButtonTarget CTivanoDlg::UsbParamTarget() {
    const UsbHandle h = m_selectedUsb;
    ParamButtonTarget t;
    t.camera.getVideoParam = [this, h](VideoParam* p) { return m_usb.GetVideoParam(h, p); };
    t.camera.setVideoParam = [this, h](const VideoParam* p) { return m_usb.SetVideoParam(h, p); };
    t.camera.show = [this](const VideoParam& p) { ShowVideoParam(p); };
    t.setDefaultParam = [this, h] { return m_usb.SetDefaultParam(h); };
    return t;
}

void CTivanoDlg::OnRestoreDefault() {
    if (!m_selectedUsb)
        return;
    RestoreDefaultParams(this, UsbParamTarget());
}

void CTivanoDlg::OnExportParams() {
    ExportParamsToFile(this, UsbParamTarget().camera);
}

void CTivanoDlg::OnImportParams() {
    ImportParamsFromFile(this, UsbParamTarget().camera);
}

void CTivanoDlg::OnRefreshParams() {
    RereadParams(UsbParamTarget().camera);
}

// ---------------------------------------------------------------------------
// Events

QMenu* CTivanoDlg::ContextMenuAt(const QPoint& clientPos) {
    QMenu* chosen = nullptr;
    if (Tree()->geometry().contains(clientPos))
        chosen = DevListMenu();
    m_nContextPane = -1;
    // Only shown panes offer their menu; in USB mode the pages lie where the
    // hidden panes are.
    if (m_nMode == kModeIp) {
        const int panes = m_nLayout == 1 ? 1 : kPaneCount;
        for (int i = 0; i < panes; ++i) {
            if (m_paneCtrls[static_cast<size_t>(i)]->geometry().contains(clientPos)) {
                chosen = VideoMenu();
                m_nContextPane = i;
            }
        }
    }
    return chosen;
}

void CTivanoDlg::contextMenuEvent(QContextMenuEvent* event) {
    const QPoint global = event->globalPos();
    if (QMenu* menu = ContextMenuAt(Client()->mapFromGlobal(global)))
        menu->popup(global);
    event->accept();
}

void CTivanoDlg::keyPressEvent(QKeyEvent* event) {
    // Neither Enter nor Escape ever closes or triggers anything here.
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QMainWindow::keyPressEvent(event);
    }
}

bool CTivanoDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Client()) {
        if (event->type() == QEvent::Paint && m_nMode == kModeIp) {
            QPainter painter(Client());
            DrawPaneFrames(m_nSelectedPane, painter);
        } else if (event->type() == QEvent::Resize) {
            OnClientResized();
        }
        return QMainWindow::eventFilter(watched, event);
    }
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (int i = 0; i < kPaneCount; ++i) {
            if (watched == m_paneCtrls[static_cast<size_t>(i)]) {
                SelectPane(i);
                break;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Shutdown

void CTivanoDlg::CommitPageEdits() {
    for (CParamPage* page : m_pages)
        if (page)
            page->CommitEdit();
}

void CTivanoDlg::closeEvent(QCloseEvent* event) {
    CommitPageEdits();
    QMainWindow::closeEvent(event);
}

void CTivanoDlg::Shutdown() {
    if (m_bShutDown)
        return;
    CommitPageEdits();
    m_bShutDown = true;
    m_gamepad->Stop();
    m_treeFillTimer.stop();
    BSC_DeInit();
    m_onvif.reset();
    for (int i = 0; i < kPaneCount; ++i) ClosePane(i);
    PELION_Cleanup();
    m_usb.CloseDevices();
    ToolSettings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.width = width();
    settings.height = height();
    settings.mode = m_nMode;
    m_config.Save(settings);
}

}  // namespace strevo
