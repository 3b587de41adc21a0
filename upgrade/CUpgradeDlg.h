// The upgrade dialog: USB cameras with a check box and a Status cell each,
// the chosen firmware packages, Start/Stop and Reboot device. A thin view on
// UpgradeEngine: the workers' events reach the widgets on the GUI thread.
#pragma once

#include <QDialog>
#include <QFont>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

#include "CUSBDevice.h"
#include "UpgradeEngine.h"
#include "UsbDeviceList.h"

namespace Ui {
class Dlg285;
}

class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace strevo {

class CUpgradeDlg : public QDialog, private IUpgradeListener {
    Q_OBJECT
  public:
    static constexpr int kMaxRows = 10;
    static constexpr int kProgressTimerId = 1026;
    static constexpr int kProgressTimerMs = 1000;
    static constexpr int kStartPauseMs = 1000;  // before the first progress tick
    enum Column : int {
        kColNo = kUsbColNo,
        kColStatus = kUsbColStatus,
        kColPid = kUsbColPid,
        kColName = kUsbColName,
        kColModel = kUsbColModel,
        kColSerial = kUsbColSerial,
        kColBios = kUsbColBios,
        kColBuild = kUsbColBuild,
        kColumnCount = kUsbColumnCount
    };

    explicit CUpgradeDlg(QWidget* parent = nullptr);
    ~CUpgradeDlg() override;

    // The main window's USB device table, copied before the dialog runs.
    std::vector<UsbDeviceEntry> m_devices;

    // Handles closed because their cameras rebooted; the main window must
    // forget them.
    std::vector<UsbHandle> ClosedHandles() const { return m_engine.ClosedHandles(); }

    // Commands.
    void OnBrowse();
    void OnStartStop();
    void OnReboot();
    void OnProgressTimer();

    // Closing waits for the workers: they are told to stop, and the dialog
    // closes once every one has ended.
    void done(int result) override;

    UpgradeEngine& Engine() { return m_engine; }
    QTableWidget* DeviceList() const;
    QListWidget* PackageList() const;
    QPushButton* StartButton() const;
    QLabel* StatusLine() const;
    QLabel* NoteLine() const;
    const QTimer& ProgressTimer() const { return m_progressTimer; }

  protected:
    // Asks the operator for package files; false when cancelled. Virtual so
    // tests can answer.
    virtual bool ChoosePackages(QStringList* files);
    void showEvent(QShowEvent* event) override;

  private:
    void InitDialog();
    void OnUpgradeEvent(const UpgradeEvent& event) override;
    void ApplyEvent(const UpgradeEvent& event);
    // The package path field, Browse, Reboot device and Refresh; Start/Stop too on request.
    void EnableOperations(bool enabled, bool startStop);
    void OnCloseWait();

    std::unique_ptr<Ui::Dlg285> m_ui;
    QFont m_statusFont;
    UpgradeEngine m_engine;
    QTimer m_progressTimer;
    QTimer m_startPause;
    QTimer m_closeWait;
    bool m_initialised = false;
    bool m_closing = false;
    int m_closeResult = 0;
};

}  // namespace strevo
