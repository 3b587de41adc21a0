// "导入配置到多台设备…" and "复制当前设备参数到…": one video parameter record,
// from a file or read from the selected camera, written into every ticked USB
// camera at once. A thin view on ParamImportEngine: the workers' events reach
// the list on the GUI thread; each row ends in "成功" or its code.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "CUSBDevice.h"
#include "ParamImportEngine.h"
#include "VideoParam.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace strevo {

class CParamImportDlg : public QDialog, private IImportListener {
    Q_OBJECT
  public:
    static constexpr int kMaxRows = 10;

    explicit CParamImportDlg(QWidget* parent = nullptr);
    ~CParamImportDlg() override;

    // The open USB cameras; set before the dialog is shown.
    std::vector<UsbDeviceEntry> m_devices;

    // The record to write: read from a file (its messages shown; false when
    // it is no parameter file) or given, as the copy of a camera's record.
    // The source camera starts unticked: it has the record already.
    bool SetFile(const std::string& path);
    void SetRecord(const VideoParam& record, const QString& source, UsbHandle sourceCamera);

    void OnBrowse();
    void OnStart();
    // Closing waits for a run's writes, each bounded by the transport's limits.
    void done(int result) override;

    ParamImportEngine& Engine() { return m_engine; }
    QTableWidget* DeviceList() const { return m_list; }
    QPushButton* StartButton() const { return m_start; }
    QPushButton* BrowseButton() const { return m_browse; }
    QLabel* SourceLine() const { return m_source; }
    QLabel* StatusLine() const { return m_status; }

  protected:
    // Asks for the parameter file; false when cancelled. Virtual so tests can answer.
    virtual bool ChooseFile(std::string* path);
    void showEvent(QShowEvent* event) override;

  private:
    void OnImportEvent(const ImportEvent& event) override;
    void ApplyEvent(const ImportEvent& event);
    void Busy(bool busy);

    ParamImportEngine m_engine;
    QTableWidget* m_list = nullptr;
    QLabel* m_source = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_browse = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_close = nullptr;
    VideoParam m_record{};
    bool m_haveRecord = false;
    UsbHandle m_sourceCamera = nullptr;
    bool m_filled = false;
    bool m_closeRequested = false;
    int m_closeResult = 0;
};

}  // namespace strevo
