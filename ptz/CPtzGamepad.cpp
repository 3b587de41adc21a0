#include "CPtzGamepad.h"

#include "CPtzCtrl.h"

using strevo::PadAction;
using strevo::PadCommand;
using strevo::PadDirection;

namespace {

int ButtonFor(PadDirection d) {
    switch (d) {
        case PadDirection::kUp:
            return CPtzCtrl::kUp;
        case PadDirection::kDown:
            return CPtzCtrl::kDown;
        case PadDirection::kLeft:
            return CPtzCtrl::kLeft;
        case PadDirection::kRight:
            return CPtzCtrl::kRight;
        case PadDirection::kLeftUp:
            return CPtzCtrl::kUpLeft;
        case PadDirection::kRightUp:
            return CPtzCtrl::kUpRight;
        case PadDirection::kLeftDown:
            return CPtzCtrl::kDownLeft;
        case PadDirection::kRightDown:
            return CPtzCtrl::kDownRight;
    }
    return 0;
}

}  // namespace

CPtzGamepad::CPtzGamepad(CPtzCtrl* panel, QObject* parent) : QObject(parent), m_panel(panel) {}

CPtzGamepad::~CPtzGamepad() {
    m_reader.Stop();
}

bool CPtzGamepad::Start(const strevo::GamepadSettings& settings) {
    return m_reader.Start(settings, [this](const PadCommand& c) {
        QMetaObject::invokeMethod(
            this, [this, c] { Apply(c); }, Qt::QueuedConnection);
    });
}

void CPtzGamepad::Stop() {
    m_reader.Stop();
}

void CPtzGamepad::Apply(const PadCommand& c) {
    if (!m_panel)
        return;
    switch (c.action) {
        case PadAction::kMove:
            Press(&m_move, ButtonFor(c.direction), c.step);
            break;
        case PadAction::kStop:
            Release(&m_move);
            break;
        case PadAction::kZoomIn:
            Press(&m_zoom, CPtzCtrl::kZoomIn);
            break;
        case PadAction::kZoomOut:
            Press(&m_zoom, CPtzCtrl::kZoomOut);
            break;
        case PadAction::kZoomStop:
            Release(&m_zoom);
            break;
        case PadAction::kFocusNear:
            Press(&m_focus, CPtzCtrl::kFocusNear);
            break;
        case PadAction::kFocusFar:
            Press(&m_focus, CPtzCtrl::kFocusFar);
            break;
        case PadAction::kFocusStop:
            Release(&m_focus);
            break;
        case PadAction::kPreviousPane:
        case PadAction::kNextPane:
            if (onPaneStep)
                onPaneStep(c.action == PadAction::kNextPane ? 1 : -1);
            break;
        case PadAction::kPreset:
            if (onPreset)
                onPreset(c.step);
            break;
    }
}

void CPtzGamepad::Press(int* held, int button, int speed) {
    // A press the panel refused (no PTZ on this camera) needs no release.
    *held = m_panel->PressButton(button, speed) ? button : 0;
}

void CPtzGamepad::Release(int* held) {
    if (*held == 0)
        return;
    m_panel->ReleaseButton(*held);
    *held = 0;
}
