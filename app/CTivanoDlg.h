// The main window: communication mode, device tree, preview panes (IP mode),
// the hosted parameter pages and buttons (USB mode) and the PTZ panel. It owns
// every long-lived part of the program for its whole life.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CImageParamsDlg.h"
#include "CUSBDevice.h"
#include "IParamHost.h"
#include "OnvifScanner.h"
#include "PELION_SDK.h"
#include "PanePlayerPort.h"
#include "ToolConfig.h"

namespace Ui {
class Dlg102;
}

class CPtzCtrl;
class CPtzGamepad;
class CPtzPresets;
class CPtzKeys;
class QAction;
class QLabel;
class QMenu;
class QPainter;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace strevo {

class CParamPage;
struct ParamButtonTarget;
struct VideoParam;

// One device item of the tree. The fields the mode does not use stay zero.
struct DeviceNode {
    char ip[32] = {};         // IP mode: the camera's address text
    bool sdk = false;         // IP mode: our discovery found it
    std::string onvif;        // IP mode: its ONVIF device service, when WS-Discovery found it
    UsbHandle usb = nullptr;  // USB mode: the camera's device handle
    char name[32] = {};       // USB mode: the device name as stored (ANSI)
    QTreeWidgetItem* item = nullptr;
};

class CPaneStream;
class CAddedCameras;
class IParamChannel;

struct AddedCamera;
struct Credentials;
class ICamera;

// One live preview pane. A pane is occupied while it holds a camera; login is
// the camera's SDK login while it has one (what "配置" and the PTZ panel use).
// The stream feeds only the player port.
struct PreviewPane {
    char ip[32] = {};
    int32_t port = 0;
    int32_t login = -1;
    PanePlayerPort playerPort;
    std::unique_ptr<CPaneStream> stream;
    bool Occupied() const { return stream != nullptr; }
};

class CPreviewPane;

class CTivanoDlg : public QMainWindow, public IParamHost {
    Q_OBJECT
  public:
    enum : int { kModeIp = 0, kModeUsb = 1 };
    static constexpr int kPaneCount = 4;
    static constexpr int kMaxIpDevices = 20;
    static constexpr int kMaxOnvifDevices = 256;  // beyond those of our discovery
    static constexpr int kTreeFillTimerId = 1001;
    static constexpr int kTreeFillDelayMs = 1000;
    static constexpr int kAboutCommand = 0x0010;
    // Page order as in the dialog's tabs: picture, exposure, white balance,
    // focus, enhancement, video.
    using PageIndex = CImageParamsDlg::PageIndex;
    using enum CImageParamsDlg::PageIndex;

    // moduleDir: where toolscfg.ini and APP_LOG live (empty: the program's
    // directory, or the user's folders when the program is installed, see
    // SettingsLocation.h). hid: USB backend (null: hidapi, or camsim via
    // STREVO_HID_SIM).
    explicit CTivanoDlg(const std::string& moduleDir = {},
                        std::shared_ptr<IHidBackend> hid = nullptr, QWidget* parent = nullptr);
    ~CTivanoDlg() override;

    void RefreshDeviceTree();
    void ArrangeControls(int layout);
    void InvalidateContentArea();

    // Preview panes.
    void SelectPane(int index);
    // The next (+1) or previous (-1) pane of the layout, round (IP mode).
    void StepPane(int delta);
    void DrawPaneFrames(int selected, QPainter& painter) const;
    void ClosePane(int index);
    virtual void OpenPreview(const LoginInfo& info, int streamType);
    // Any camera into a pane by the same rules; our SDK cameras open at once
    // (with the usual messages), others in the background.
    void OpenCamera(std::unique_ptr<ICamera> camera, int streamType);
    void OpenAddedCamera(const AddedCamera& camera);
    // The host of a camera's address: an IP, host:port, or a URL.
    static std::string HostOf(const std::string& address);
    // The user name and password of an SDK login record.
    static Credentials LoginCredentials(const LoginInfo& info);

    // Hosted pages (USB mode).
    virtual void ShowVideoParam(const VideoParam& param);
    int32_t SetVideoParamItem(const char* items) override;
    int32_t GetFocusNear() override;

    // The parameter buttons (USB mode), on the selected USB camera.
    void OnRestoreDefault();
    void OnExportParams();
    void OnImportParams();
    void OnRefreshParams();
    // The smallest client area that shows the USB arrangement whole: all six
    // pages, and below them the buttons and the instruction text.
    QSize UsbMinimumClientSize() const;

    // Menu commands.
    void OnModeIp();
    void OnModeUsb();
    void OnLayout(int layout);
    void OnConfig();
    void OnUpgrade();
    void OnRefreshList();
    void OnCloseVideo();
    void OnCloseAllVideo();
    void OnAbout();
    void OnTreeDoubleClick();

    // "截图" of the pane context menu: the context pane's newest picture as PNG
    // into the snapshot folder (asked for once, then kept in toolscfg.ini).
    void OnSnapshot();
    // USB mode, the button beside "导入配置": a parameter file, or the selected
    // camera's record read once, into several cameras at once.
    void OnImportMany();
    void OnCopyParamsToMany();
    // "重启设备" of the tree menu, for the selected ONVIF camera.
    void OnRebootDevice();
    // Ctrl+1 … Ctrl+9 and the gamepad: the selected camera's preset (1 first).
    bool CallPreset(int number);

    // The pop-up menu for a right-click at a point of the client area, null
    // for none; sets the context pane as a side effect.
    QMenu* ContextMenuAt(const QPoint& clientPos);

    // State, for the parts that work with the window and for tests.
    int Mode() const { return m_nMode; }
    int Layout() const { return m_nLayout; }
    int SelectedPane() const { return m_nSelectedPane; }
    int ContextPane() const { return m_nContextPane; }
    const PreviewPane& Pane(int index) const { return m_panes.at(static_cast<size_t>(index)); }
    const std::vector<DeviceNode>& Nodes() const { return m_nodes; }
    UsbHandle SelectedUsbDevice() const { return m_selectedUsb; }
    CUSBDevice& Usb() { return m_usb; }
    const std::string& ModuleDir() const { return m_moduleDir; }
    const std::string& ConfigPath() const { return m_configPath; }
    const std::string& LogDir() const { return m_logDir; }

    QWidget* Client() const;
    QLabel* PaneControl(int index) const { return m_paneCtrls.at(static_cast<size_t>(index)); }
    CPreviewPane* PanePicture(int index) const { return m_pictures.at(static_cast<size_t>(index)); }
    QTreeWidget* Tree() const;
    QTreeWidgetItem* RootItem() const { return m_rootItem; }
    QTreeWidgetItem* FoundItem() const { return m_foundItem; }
    CPtzCtrl* Ptz() const { return m_ptz; }
    CPtzPresets* Presets() const { return m_presets; }
    QAction* RebootItem() const { return m_rebootItem; }
    CAddedCameras* AddedCameras() const { return m_added; }
    CParamPage* Page(int index) const { return m_pages.at(static_cast<size_t>(index)); }
    QLabel* InstructionText() const;
    QPushButton* RestoreButton() const;
    QPushButton* ExportButton() const;
    QPushButton* ImportButton() const;
    QPushButton* RefreshButton() const;
    // Top-level menu items by position: 0 mode, 1 configure, 2 layout, 3 upgrade.
    QAction* MenuItem(int position) const;
    QAction* AboutItem() const { return m_aboutItem; }
    QMenu* DevListMenu() const;
    QMenu* VideoMenu() const;
    QAction* SnapshotItem() const { return m_snapshotItem; }
    QPushButton* ImportManyButton() const { return m_importMany; }
    // The status line's current text.
    QString StatusText() const;

  signals:
    // The tree has been filled again (timer, mode switch or "刷新列表").
    void DeviceTreeRefreshed();

  protected:
    // Later parts fill these in: reading a USB camera's parameters into the
    // pages, the image parameter dialog and the upgrade dialog.
    virtual void ReadUsbCameraParams(const DeviceNode& node);
    virtual void RunImageParamsDlg(int32_t loginHandle);
    // The same dialog over a camera's own parameter channel.
    virtual void RunImageParamsDlg(IParamChannel* channel);
    // OK/Cancel before a reboot.
    virtual bool ConfirmReboot(const QString& question);
    virtual void RunUpgradeDlg();
    // The many-camera import dialog over the open cameras: with the record to
    // copy and its camera, or (null) for a file the operator picks there.
    virtual void RunParamImportDlg(const VideoParam* record, UsbHandle source);
    // Asks for the snapshot folder; empty when cancelled.
    virtual QString ChooseSnapshotFolder();
    // Forgets USB handles closed elsewhere (cameras that the upgrade dialog
    // rebooted): their table rows are marked closed, their tree items go, and
    // the selected device is dropped if it was one of them.
    void DropUsbHandles(const std::vector<UsbHandle>& closed);

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    ParamButtonTarget UsbParamTarget();
    void SetClientMinimum(const QSize& size);
    void SetUpMenus();
    void SetUpTools();
    void SetUpOnvif();
    // The tree, the PTZ panel and (for cameras with presets) the preset list
    // below it, down the left side of the client area.
    void PlaceLeftColumn();
    // Adds the ONVIF cameras WS-Discovery found to the tree's found devices.
    void AddOnvifNodes();
    // The ONVIF camera of a tree item (found or added), null for none.
    std::unique_ptr<ICamera> OnvifCameraOf(const QTreeWidgetItem* item);
    void ShowStatus(const QString& text);
    void ClosePlayer(int index);
    int PaneForNewCamera();
    void OnPaneState(int index);
    void ShowPtzFor(const PreviewPane& pane);
    void SetMenuStates(bool usb);
    void OnClientResized();
    void OnTreeFillTimer();
    void Shutdown();
    // Sends a page's number box edit that has not been sent yet, to the
    // selected USB camera, before its handle goes or the pages are put away.
    void CommitPageEdits();

    std::unique_ptr<Ui::Dlg102> m_ui;
    std::array<QLabel*, kPaneCount> m_paneCtrls{};
    std::array<CPreviewPane*, kPaneCount> m_pictures{};  // owned by their controls
    int m_nSelectedPane = 0;
    int m_nContextPane = -1;
    QSize m_clientSize;
    bool m_bSetupDone = false;
    CPtzCtrl* m_ptz = nullptr;
    CPtzKeys* m_ptzKeys = nullptr;
    CPtzGamepad* m_gamepad = nullptr;
    std::array<CParamPage*, kPageCount> m_pages{};
    ToolConfig m_config;
    std::string m_moduleDir;
    std::string m_configPath;
    std::string m_logDir;
    int m_nMode = kModeIp;
    int m_nLayout = 2;
    CUSBDevice m_usb;
    std::array<PreviewPane, kPaneCount> m_panes{};
    std::vector<DeviceNode> m_nodes;
    QTreeWidgetItem* m_rootItem = nullptr;
    QTreeWidgetItem* m_foundItem = nullptr;
    UsbHandle m_selectedUsb = nullptr;
    QAction* m_aboutItem = nullptr;
    QAction* m_snapshotItem = nullptr;
    QPushButton* m_importMany = nullptr;
    CPtzPresets* m_presets = nullptr;
    QAction* m_rebootItem = nullptr;
    std::unique_ptr<OnvifScanner> m_onvif;
    std::vector<FoundOnvifCamera> m_onvifShown;  // what the tree lists
    bool m_onvifRefill = false;                  // a fill for a probe's news
    CAddedCameras* m_added = nullptr;  // owned by the tree
    QTimer m_treeFillTimer;
    bool m_bShutDown = false;
};

}  // namespace strevo
