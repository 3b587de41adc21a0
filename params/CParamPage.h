// Common ground of the six parameter pages: a child widget built from its own
// template, a host to write through and the title label that only the main
// window shows.
#pragma once

#include <QWidget>

#include "IParamHost.h"

namespace strevo {

struct VideoParam;

class CParamPage : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kTitleLabelId = 1509;

    int TemplateId() const { return m_templateId; }

    // mainWindow: the host is the main window (USB camera, title shown);
    // otherwise the image parameter dialog (network camera, title hidden).
    void SetHost(IParamHost* host, bool mainWindow);
    IParamHost* Host() const { return m_pHost; }
    bool IsMainWindowHost() const { return m_bMainWnd; }

    // Shows the page's own fields of the record; never writes to the camera.
    virtual void ShowParams(const VideoParam& param);

  protected:
    CParamPage(int templateId, QWidget* parent);
    // Called by each page once its template is set up: scales it and gives
    // the title label its font.
    void FinishTemplate();

  private:
    int m_templateId;
    IParamHost* m_pHost = nullptr;
    bool m_bMainWnd = false;
};

}  // namespace strevo
