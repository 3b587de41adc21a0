#include "CPtzKeys.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "CPtzCtrl.h"

namespace {

// Keys typed into these are text, not camera moves.
bool TakesText(const QWidget* w) {
    if (!w)
        return false;
    if (auto* combo = qobject_cast<const QComboBox*>(w))
        return combo->isEditable();
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QTextEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w);
}

}  // namespace

CPtzKeys::CPtzKeys(CPtzCtrl* panel, QWidget* window)
    : QObject(window), m_panel(panel), m_window(window) {
    qApp->installEventFilter(this);
}

int CPtzKeys::ButtonForKey(int key, bool keypad) {
    switch (key) {
        case Qt::Key_Up:
            return CPtzCtrl::kUp;
        case Qt::Key_Down:
            return CPtzCtrl::kDown;
        case Qt::Key_Left:
            return CPtzCtrl::kLeft;
        case Qt::Key_Right:
            return CPtzCtrl::kRight;
        case Qt::Key_Plus:
            return CPtzCtrl::kZoomIn;
        case Qt::Key_Equal:
            return keypad ? 0 : CPtzCtrl::kZoomIn;  // "+" without Shift
        case Qt::Key_Minus:
            return CPtzCtrl::kZoomOut;
        default:
            break;
    }
    if (!keypad) {
        switch (key) {
            case Qt::Key_PageUp:
                return CPtzCtrl::kFocusFar;
            case Qt::Key_PageDown:
                return CPtzCtrl::kFocusNear;
            default:
                return 0;
        }
    }
    // The keypad's diagonals, as digits (Num Lock on) or as the keys printed
    // beside them (Num Lock off).
    switch (key) {
        case Qt::Key_8:
            return CPtzCtrl::kUp;
        case Qt::Key_2:
            return CPtzCtrl::kDown;
        case Qt::Key_4:
            return CPtzCtrl::kLeft;
        case Qt::Key_6:
            return CPtzCtrl::kRight;
        case Qt::Key_7:
        case Qt::Key_Home:
            return CPtzCtrl::kUpLeft;
        case Qt::Key_9:
        case Qt::Key_PageUp:
            return CPtzCtrl::kUpRight;
        case Qt::Key_1:
        case Qt::Key_End:
            return CPtzCtrl::kDownLeft;
        case Qt::Key_3:
        case Qt::Key_PageDown:
            return CPtzCtrl::kDownRight;
        default:
            return 0;
    }
}

QString CPtzKeys::Help() {
    return QStringLiteral(
        "<table cellspacing=\"2\">"
        "<tr><td colspan=\"2\"><b>键盘</b></td></tr>"
        "<tr><td>方向键, 小键盘 1-9</td><td>转动 (含斜向)</td></tr>"
        "<tr><td>+ / -</td><td>变倍</td></tr>"
        "<tr><td>PageUp / PageDown</td><td>聚焦</td></tr>"
        "<tr><td>[ / ]</td><td>速度减 / 加</td></tr>"
        "<tr><td colspan=\"2\"><b>手柄</b></td></tr>"
        "<tr><td>左摇杆</td><td>转动 (推得越远越快)</td></tr>"
        "<tr><td>右 / 左扳机</td><td>变倍</td></tr>"
        "<tr><td>十字键上 / 下</td><td>聚焦</td></tr>"
        "<tr><td>右 / 左肩键</td><td>下一 / 上一画面</td></tr>"
        "</table>");
}

bool CPtzKeys::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            // Each key event reaches the window object first and then its
            // widgets; the widgets' copy is the one acted on.
            if (watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == m_window &&
                OnKey(static_cast<QWidget*>(watched), event))
                return true;
            break;
        case QEvent::WindowDeactivate:
            if (watched == m_window)
                ReleaseHeld();
            break;
        case QEvent::ApplicationStateChange:
            if (QGuiApplication::applicationState() != Qt::ApplicationActive)
                ReleaseHeld();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

bool CPtzKeys::OnKey(QWidget* to, QEvent* event) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool keypad = key->modifiers() & Qt::KeypadModifier;
    const bool press = event->type() == QEvent::KeyPress;
    if (!press) {
        if (key->key() != m_heldKey || keypad != m_heldKeypad)
            return false;
        if (!key->isAutoRepeat())
            ReleaseHeld();
        return true;
    }
    // A key a text field passes on (an arrow at its end) reaches its parents:
    // the focus decides, not only the widget the event is at.
    if (!m_panel || !m_window->isActiveWindow() || TakesText(to) ||
        TakesText(QApplication::focusWidget()) ||
        (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return false;
    if (key->key() == Qt::Key_BracketLeft || key->key() == Qt::Key_BracketRight) {
        if (!key->isAutoRepeat())
            m_panel->SetSpeed(m_panel->Speed() + (key->key() == Qt::Key_BracketRight ? 1 : -1));
        return true;
    }
    const int button = ButtonForKey(key->key(), keypad);
    if (button == 0)
        return false;
    if (key->isAutoRepeat())
        return true;
    // A second key takes over from the first: every press gets its one release.
    ReleaseHeld();
    if (m_panel->PressButton(button)) {
        m_heldKey = key->key();
        m_heldKeypad = keypad;
        m_heldButton = button;
    }
    return true;
}

void CPtzKeys::ReleaseHeld() {
    if (m_heldButton == 0)
        return;
    const int button = m_heldButton;
    m_heldKey = m_heldButton = 0;
    if (m_panel)
        m_panel->ReleaseButton(button);
}
