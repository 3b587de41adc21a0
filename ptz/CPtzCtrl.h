// The PTZ panel: press-and-hold buttons and a speed slider that drive the
// current target camera, over USB or the network SDK.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

namespace strevo {
class IPtzControl;
}

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

    // Or a camera driven through its own protocol (kept by the camera, which
    // outlives the selection): presses and releases go there instead of the
    // PTZ texts. Null returns to the target above.
    void SetControl(strevo::IPtzControl* control) { m_control = control; }
    strevo::IPtzControl* Control() const { return m_control; }

    intptr_t TargetId() const { return m_targetId; }
    const char* TargetAddress() const { return m_targetAddress; }
    int TargetPort() const { return m_targetPort; }

    // The action buttons by control id; the keyboard and the gamepad drive
    // the same actions as a click on them.
    enum Button : int {
        kUpLeft = 1238, kUp = 1239, kUpRight = 1240, kLeft = 1241, kRight = 1243,
        kDownLeft = 1244, kDown = 1245, kDownRight = 1246, kZoomOut = 1247, kZoomIn = 1248,
        kFocusNear = 1249, kFocusFar = 1250, kIrisClose = 1251, kIrisOpen = 1252,
    };
    // A button's press and release actions. speed: the speed position (1 to
    // 8) for this press, 0 for the slider's. A disabled panel (a camera
    // without PTZ) takes no press: false, nothing sent.
    bool PressButton(int ctrlId, int speed = 0);
    void ReleaseButton(int ctrlId);
    int Speed() const;
    void SetSpeed(int position);  // kept within the slider's range

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Sends the PTZ texts in order to the target; one probe covers them all
    // on the network path. Null entries are skipped; speed 0 is the slider's.
    void Send(const char* const* cmds, int count, int speed = 0);
    // A button's press and release, on the target or the control.
    void Press(int ctrlId, int speed);
    void Release(int ctrlId);

    std::unique_ptr<Ui::Dlg256> m_ui;
    intptr_t m_targetId = -1;
    char m_targetAddress[32] = {};
    int m_targetPort = -1;
    strevo::IPtzControl* m_control = nullptr;
};
