// The PTZ panel: press-and-hold buttons and a speed slider that drive the
// current target camera, over USB or the network SDK.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

namespace Ui {
class Dlg256;
}

class CPtzCtrl : public QWidget {
    Q_OBJECT
  public:
    explicit CPtzCtrl(QWidget* parent = nullptr);
    ~CPtzCtrl() override;

    // targetId: USB device handle when port is 0, else the SDK login handle;
    // below 0 means no target. The address keeps at most 31 characters.
    int SetTarget(intptr_t targetId, const char* address, int port);

    intptr_t TargetId() const { return m_targetId; }
    const char* TargetAddress() const { return m_targetAddress; }
    int TargetPort() const { return m_targetPort; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Sends the PTZ texts in order to the target; one probe covers them all
    // on the network path. Null entries are skipped.
    void Send(const char* const* cmds, int count);

    std::unique_ptr<Ui::Dlg256> m_ui;
    intptr_t m_targetId = -1;
    char m_targetAddress[32] = {};
    int m_targetPort = -1;
};
