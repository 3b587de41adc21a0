// The gamepad on the PTZ panel: the reader's commands, made on its own thread,
// are carried to the GUI thread and pressed and released on the panel like
// its buttons, at the speed step the stick gives.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

#include "GamepadReader.h"

class CPtzCtrl;

class CPtzGamepad : public QObject {
    Q_OBJECT
  public:
    CPtzGamepad(CPtzCtrl* panel, QObject* parent);
    ~CPtzGamepad() override;  // the reader stops before anything here goes

    // False when there is no gamepad interface; the program goes on without it.
    bool Start(const strevo::GamepadSettings& settings);
    void Stop();

    // The shoulder buttons: -1 previous pane, +1 next.
    std::function<void(int)> onPaneStep;
    // A, B, X, Y: call preset 1 to 4 of the selected camera.
    std::function<void(int)> onPreset;

  private:
    void Apply(const strevo::PadCommand& command);
    void Press(int* held, int button, int speed = 0);
    void Release(int* held);

    QPointer<CPtzCtrl> m_panel;
    strevo::GamepadReader m_reader;
    int m_move = 0, m_zoom = 0, m_focus = 0;  // the buttons held, 0 for none
};
