// Keyboard PTZ for one window: while it is active and no text or number field
// has the focus, arrow keys, the numeric keypad, "+"/"-" and PageUp/PageDown
// press and release the panel's buttons, and "[" / "]" change its speed.
// One key acts at a time; the keyboard's auto-repeat sends nothing, and the
// held key is released when the window loses the focus.
#pragma once

#include <QObject>
#include <QPointer>

class CPtzCtrl;
class QWidget;

class CPtzKeys : public QObject {
    Q_OBJECT
  public:
    // Watches the application's key events for the widgets of window.
    CPtzKeys(CPtzCtrl* panel, QWidget* window);

    // The panel button a key drives, 0 for none; keypad: the key came from
    // the numeric keypad (with or without Num Lock).
    static int ButtonForKey(int key, bool keypad);
    // The keys and the gamepad's controls, for the panel's tooltip.
    static QString Help();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool OnKey(QWidget* to, QEvent* event);
    void ReleaseHeld();

    QPointer<CPtzCtrl> m_panel;
    QWidget* m_window;
    int m_heldKey = 0;
    bool m_heldKeypad = false;
    int m_heldButton = 0;
};
