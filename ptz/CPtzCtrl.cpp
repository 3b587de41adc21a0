#include "CPtzCtrl.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <string>

#include "CUSBDevice.h"
#include "DialogUnits.h"
#include "NetProbe.h"
#include "PtzControl.h"
#include "PELION_SDK.h"
#include "VideoParam.h"
#include "ui_dlg_256.h"

namespace {

constexpr int k3DButtonId = 1242;
constexpr int kSpeedSliderId = 1454;
constexpr int kSpeedLabelId = 1455;
constexpr int kSpeedMin = 1, kSpeedMax = 8, kSpeedStart = 5;
constexpr uint32_t kUsbWriteLimitSec = 5;
constexpr int kProbeTimeoutSec = 1;

struct ButtonAction {
    int ctrlId;
    const char* press;
    const char* release[2];  // "Stop" first; zoom and focus add their own stop
};

constexpr ButtonAction kButtonActions[] = {
    {1238, "LeftUp", {"Stop", nullptr}},        {1239, "Up", {"Stop", nullptr}},
    {1240, "RightUp", {"Stop", nullptr}},       {1241, "Left", {"Stop", nullptr}},
    {1243, "Right", {"Stop", nullptr}},         {1244, "LeftDown", {"Stop", nullptr}},
    {1245, "Down", {"Stop", nullptr}},          {1246, "RightDown", {"Stop", nullptr}},
    {1247, "ZoomWide", {"Stop", "ZoomStop"}},   {1248, "ZoomTele", {"Stop", "ZoomStop"}},
    {1249, "FocusNear", {"Stop", "FocusStop"}}, {1250, "FocusFar", {"Stop", "FocusStop"}},
    {1251, "IrisClose", {"Stop", nullptr}},     {1252, "IrisOpen", {"Stop", nullptr}},
};

const ButtonAction* FindAction(int ctrlId) {
    for (const ButtonAction& a : kButtonActions) {
        if (a.ctrlId == ctrlId)
            return &a;
    }
    return nullptr;
}

const ButtonAction* FindAction(const QObject* o) {
    QVariant id = o->property("ctrlId");
    return id.isValid() ? FindAction(id.toInt()) : nullptr;
}

bool IsLeftPress(const QEvent* e) {
    // A quick second click arrives as a double click; it is a press all the same.
    return (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::MouseButtonDblClick) &&
           static_cast<const QMouseEvent*>(e)->button() == Qt::LeftButton;
}

bool IsLeftRelease(const QEvent* e) {
    return e->type() == QEvent::MouseButtonRelease &&
           static_cast<const QMouseEvent*>(e)->button() == Qt::LeftButton;
}

}  // namespace

CPtzCtrl::CPtzCtrl(QWidget* parent) : QWidget(parent), m_ui(std::make_unique<Ui::Dlg256>()) {
    m_ui->setupUi(this);
    strevo::ScaleDialogUnits(this, strevo::DefaultDialogFont());

    auto* slider = qobject_cast<QSlider*>(strevo::FindControl(this, kSpeedSliderId));
    auto* label = qobject_cast<QLabel*>(strevo::FindControl(this, kSpeedLabelId));
    slider->setRange(kSpeedMin, kSpeedMax);
    slider->setTickInterval(1);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setValue(kSpeedStart);
    label->setText(QString::number(slider->value()));
    // Every position change, by mouse, keyboard or code, updates the label.
    connect(slider, &QSlider::valueChanged, label,
            [label](int pos) { label->setText(QString::number(pos)); });

    // The buttons never take keyboard focus: none stays marked after a click,
    // and the space bar cannot "click" one without the press the panel acts on.
    for (QPushButton* b : findChildren<QPushButton*>()) {
        b->setFocusPolicy(Qt::NoFocus);
        if (FindAction(b))
            b->installEventFilter(this);
    }
    // The "3D" button has no role.
    strevo::FindControl(this, k3DButtonId)->setEnabled(false);
    // Presses elsewhere on the panel also clear the buttons' focus.
    installEventFilter(this);
    for (QWidget* w : findChildren<QWidget*>()) {
        if (!FindAction(w))
            w->installEventFilter(this);
    }
}

CPtzCtrl::~CPtzCtrl() = default;

int CPtzCtrl::SetTarget(intptr_t targetId, const char* address, int port) {
    m_targetId = targetId;
    std::memset(m_targetAddress, 0, sizeof m_targetAddress);
    if (address)
        std::strncpy(m_targetAddress, address, sizeof m_targetAddress - 1);
    m_targetPort = port;
    return 0;
}

bool CPtzCtrl::PressButton(int ctrlId, int speed) {
    const ButtonAction* a = FindAction(ctrlId);
    if (!a || !isEnabled())
        return false;
    Press(ctrlId, speed);
    return true;
}

void CPtzCtrl::ReleaseButton(int ctrlId) {
    Release(ctrlId);
}

void CPtzCtrl::Press(int ctrlId, int speed) {
    const ButtonAction* a = FindAction(ctrlId);
    if (!a)
        return;
    if (m_control) {
        // Failures are as silent as on the other paths; the next press tries again.
        m_control->Move(a->press, speed > 0 ? std::min(speed, kSpeedMax) : Speed());
        return;
    }
    Send(&a->press, 1, speed);
}

void CPtzCtrl::Release(int ctrlId) {
    const ButtonAction* a = FindAction(ctrlId);
    if (!a)
        return;
    if (m_control) {
        m_control->StopMove(a->press);
        return;
    }
    Send(a->release, 2);
}

int CPtzCtrl::Speed() const {
    auto* self = const_cast<CPtzCtrl*>(this);
    return static_cast<QSlider*>(strevo::FindControl(self, kSpeedSliderId))->value();
}

void CPtzCtrl::SetSpeed(int position) {
    static_cast<QSlider*>(strevo::FindControl(this, kSpeedSliderId))->setValue(position);
}

bool CPtzCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (IsLeftPress(event)) {
        if (const ButtonAction* a = FindAction(watched))
            Press(a->ctrlId, 0);
        // Once the press has been handled, make sure no button is left with
        // keyboard focus (the buttons refuse it; this also covers setFocus calls).
        QTimer::singleShot(0, this, [this] {
            for (QPushButton* b : findChildren<QPushButton*>()) {
                if (b->hasFocus())
                    b->clearFocus();
            }
        });
    } else if (IsLeftRelease(event)) {
        if (const ButtonAction* a = FindAction(watched))
            Release(a->ctrlId);
    }
    return QWidget::eventFilter(watched, event);  // the button still shows its state
}

void CPtzCtrl::Send(const char* const* cmds, int count, int speed) {
    if (m_targetId < 0)
        return;
    speed = speed > 0 ? std::min(speed, kSpeedMax) : Speed();
    std::string texts[2];
    int n = 0;
    for (int i = 0; i < count && n < 2; ++i) {
        int h = 0, v = 0;
        if (!cmds[i] || !strevo::PtzActionParams(cmds[i], speed, &h, &v))
            continue;
        if (strevo::BuildPtzText(cmds[i], h, v, &texts[n]) == 0)
            ++n;
    }
    if (n == 0)
        return;

    // Results are not examined: a failed action is silent and the next press
    // simply tries again.
    if (m_targetPort == 0) {
        auto handle = reinterpret_cast<strevo::UsbHandle>(m_targetId);
        for (int i = 0; i < n; ++i) {
            strevo::CUSBDevice::Transact(handle, strevo::kCmdPtzCtrl, texts[i].c_str(),
                                         static_cast<uint32_t>(texts[i].size() + 1), nullptr, 0,
                                         nullptr, kUsbWriteLimitSec);
        }
        return;
    }
    if (strevo::ProbeTcpPort(m_targetAddress, m_targetPort, kProbeTimeoutSec) != 1)
        return;
    char answer[strevo::kPtzAnswerSize];
    // Set once per action; the SDK hands back what it stored, never more than
    // the buffer, so the second text of a release cannot be overrun.
    int32_t answerLen = static_cast<int32_t>(sizeof answer);
    for (int i = 0; i < n; ++i) {
        PELION_SendRobotText(static_cast<int32_t>(m_targetId), texts[i].c_str(),
                             static_cast<int32_t>(texts[i].size() + 1), answer, &answerLen);
    }
}
