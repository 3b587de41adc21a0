// The image parameter dialog (template 259): the six pages as tabs for one
// network camera, reached through its preview login, and the four parameter
// buttons. Built, run modally and destroyed each time the main window opens it.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <memory>

#include "IParamHost.h"
#include "NetCommands.h"

namespace Ui {
class Dlg259;
}

class QPushButton;
class QTabWidget;

namespace strevo {

class CParamPage;
struct ParamButtonTarget;
struct VideoParam;

class CImageParamsDlg : public QDialog, public IParamHost {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 259;
    // Tab order.
    enum PageIndex : int {
        kPicture,
        kExposure,
        kWhiteBalance,
        kFocus,
        kEnhance,
        kVideo,
        kPageCount
    };

    explicit CImageParamsDlg(QWidget* parent = nullptr);
    ~CImageParamsDlg() override;

    // The camera's login; set before the dialog runs, kept for its whole life.
    void SetDeviceHandle(int32_t loginHandle);
    int32_t DeviceHandle() const { return m_channel.DeviceHandle(); }
    // Or a camera whose parameters go through a channel of its own protocol
    // (kept by the camera, which outlives the dialog): rows it has no setting
    // for are disabled, and so are the buttons it has no command for.
    void SetChannel(IParamChannel* channel);

    // Start-up: tabs, pages, the first read. Runs once, before the dialog is
    // first shown.
    void OnInitDialog();
    int exec() override;
    // Closing (the close box, Escape on the dialog's own controls) leaves the
    // number box that still holds an edit: it is sent before the dialog goes.
    void done(int result) override;

    virtual void ShowAllPages(const VideoParam& param);

    // Network commands on the login handle.
    int32_t GetVideoParam(VideoParam* param);
    int32_t SetVideoParam(const VideoParam* param);
    int32_t SetVideoParamItem(const char* items) override;
    int32_t GetFocusNear() override;
    int32_t SetDefaultParam();

    // The buttons.
    void OnRestoreDefault();
    void OnExport();
    void OnImport();
    void OnRefresh();

    QTabWidget* Tabs() const;
    // Null before start-up.
    CParamPage* Page(int index) const { return m_pages.at(static_cast<size_t>(index)); }
    QPushButton* RestoreButton() const;
    QPushButton* ExportButton() const;
    QPushButton* ImportButton() const;
    QPushButton* RefreshButton() const;

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    ParamButtonTarget Target();
    void FitPages();

    std::unique_ptr<Ui::Dlg259> m_ui;
    IParamChannel& Channel() { return m_other ? *m_other : m_channel; }

    NetCommandChannel m_channel;
    IParamChannel* m_other = nullptr;
    std::array<CParamPage*, kPageCount> m_pages{};
    bool m_bInitialised = false;
};

}  // namespace strevo
