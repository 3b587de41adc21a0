// The main window's preview panes: which pane a camera goes to, opening and
// closing its stream, the selected pane and its frame.
#include <QLabel>
#include <QPainter>
#include <cstring>

#include "CAddedCameras.h"
#include "CPaneStream.h"
#include "CPreviewPane.h"
#include "CPtzCtrl.h"
#include "CPtzKeys.h"
#include "CPtzPresets.h"
#include "PtzControl.h"
#include "CTivanoDlg.h"
#include "OperatorMessages.h"
#include "ProcessMemory.h"
#include "RtspSource.h"
#include "TextCut.h"
#include "movra.h"

namespace strevo {

int CTivanoDlg::PaneForNewCamera() {
    // A free pane of the layout takes the preview; with none free the selected
    // pane's preview is replaced.
    const int panes = m_nLayout == 1 ? 1 : kPaneCount;
    if (m_panes[static_cast<size_t>(m_nSelectedPane)].Occupied()) {
        for (int i = 0; i < panes; ++i) {
            if (!m_panes[static_cast<size_t>(i)].Occupied()) {
                m_nSelectedPane = i;
                break;
            }
        }
    }
    return m_nSelectedPane;
}

void CTivanoDlg::OpenPreview(const LoginInfo& info, int streamType) {
    char ip[sizeof info.ip + 1] = {};
    std::memcpy(ip, info.ip, strnlen(info.ip, sizeof info.ip));
    const Credentials credentials = LoginCredentials(info);
    OpenCamera(MakeSdkCamera(ip, &credentials), streamType);
}

Credentials CTivanoDlg::LoginCredentials(const LoginInfo& info) {
    Credentials credentials;
    credentials.user.assign(info.user, strnlen(info.user, sizeof info.user));
    credentials.password.assign(info.password, strnlen(info.password, sizeof info.password));
    return credentials;
}

void CTivanoDlg::OpenAddedCamera(const AddedCamera& camera) {
    std::unique_ptr<ICamera> opened = m_added->MakeCamera(camera);
    if (!opened) {
        ShowMessage("本程序未包含 ONVIF 支持");
        return;
    }
    OpenCamera(std::move(opened), 0);
}

void CTivanoDlg::OpenCamera(std::unique_ptr<ICamera> camera, int streamType) {
    const int p = PaneForNewCamera();
    PreviewPane& pane = m_panes[static_cast<size_t>(p)];
    ClosePane(p);

    // The player is ready before the stream starts, so the camera's first key
    // frame is not dropped for want of a port.
    const int32_t port = MV_OpenStream(0, 0);
    if (port >= 0) {
        MV_PlayInto(port, m_pictures[static_cast<size_t>(p)]->Target());
        pane.playerPort.Set(port);
    }
    const bool sdk = camera->Kind() == CameraKind::kSdk;
    const int controlPort = camera->ControlPort();
    std::string address = camera->Address();
    rtsp::UrlParts parts;
    if (camera->Kind() == CameraKind::kOnvif)
        address = HostOf(address);
    else if (!sdk && rtsp::ParseUrl(address, &parts))
        address = parts.host;
    pane.stream = std::make_unique<CPaneStream>(std::move(camera), pane.playerPort,
                                                m_pictures[static_cast<size_t>(p)], streamType);
    connect(pane.stream.get(), &CPaneStream::StateChanged, this, [this, p] { OnPaneState(p); });
    if (sdk) {
        // Our SDK camera opens at once, as it always has; only a drop later
        // is retried by the pane.
        const StreamOpenResult r = pane.stream->OpenNow();
        if (!r.loggedIn) {
            ClosePlayer(p);
            pane.stream.reset();
            ShowMessage("登录失败 错误码为%d", r.code);
            return;
        }
        pane.login = pane.stream->Camera().ControlHandle();
        if (r.code != 0) {
            ClosePlayer(p);
            ShowMessage("请求主码流失败! 错误码为: %d\n", r.code);
            return;  // logged in, not playing
        }
        if (port < 0)
            return;  // logged in and playing, but nothing shows the stream
        pane.stream->Start(true);
    } else {
        // Anything else connects in the background; the pane shows how it goes.
        pane.stream->Start(false);
    }
    CutText(address.c_str(), pane.ip, sizeof pane.ip, true);
    pane.port = controlPort;
    SelectPane(p);
}

void CTivanoDlg::OnPaneState(int index) {
    PreviewPane& pane = m_panes[static_cast<size_t>(index)];
    if (!pane.stream)
        return;
    // A reopened SDK stream has a new login; a dropped one has none.
    const int32_t login = pane.stream->Camera().ControlHandle();
    if (login != pane.login) {
        pane.login = login;
        if (index == m_nSelectedPane)
            SelectPane(index);
    } else if (index == m_nSelectedPane) {
        ShowPtzFor(pane);  // what the camera has is known once it is open
    }
}

void CTivanoDlg::ClosePlayer(int index) {
    // Taken from the stream callback first: no data reaches the player once its
    // close begins.
    const int32_t port = m_panes[static_cast<size_t>(index)].playerPort.Take();
    if (port < 0)
        return;
    MV_VideoClose(port);
    m_pictures[static_cast<size_t>(index)]->Clear();
}

void CTivanoDlg::ClosePane(int index) {
    if (index < 0 || index >= kPaneCount)
        return;
    PreviewPane& pane = m_panes[static_cast<size_t>(index)];
    const bool wasOpen = pane.Occupied();
    ClosePlayer(index);
    // Stops the retries and the stream, and logs out.
    pane.stream.reset();
    pane.login = -1;
    if (index == m_nSelectedPane)
        ShowPtzFor(pane);  // a greyed panel comes back for the next camera (or USB mode)
    if (wasOpen)
        ReleaseFreeMemory();  // the stream's decoder and buffers, megabytes, back to the system
}

void CTivanoDlg::OnCloseVideo() {
    ClosePane(m_nContextPane);
    update();
    Client()->update();
}

void CTivanoDlg::OnCloseAllVideo() {
    const int panes = m_nLayout == 1 ? 1 : kPaneCount;
    for (int i = 0; i < panes; ++i) ClosePane(i);
    update();
    Client()->update();
}

void CTivanoDlg::SelectPane(int index) {
    if (index < 0 || index >= kPaneCount)
        return;
    m_nSelectedPane = index;
    Client()->update();
    const PreviewPane& pane = m_panes[static_cast<size_t>(index)];
    ShowPtzFor(pane);
    m_ptz->SetTarget(pane.login, pane.ip, pane.port);
}

void CTivanoDlg::StepPane(int delta) {
    if (m_nMode != kModeIp)
        return;
    const int panes = m_nLayout == 1 ? 1 : kPaneCount;
    SelectPane(((m_nSelectedPane + delta) % panes + panes) % panes);
}

void CTivanoDlg::ShowPtzFor(const PreviewPane& pane) {
    // A camera that takes no PTZ commands greys the panel while it is selected.
    const uint32_t caps = pane.stream ? pane.stream->Camera().Caps() : 0;
    const bool ptz = !pane.stream || (caps & kCapPtz);
    m_ptz->setEnabled(ptz);
    m_ptz->setToolTip(ptz ? CPtzKeys::Help() : QStringLiteral("该设备不支持参数配置"));
    // Cameras driven through their own protocol; the others by the target.
    IPtzControl* control = pane.stream && ptz ? pane.stream->Camera().Ptz() : nullptr;
    m_ptz->SetControl(control);
    if (!m_presets)
        return;  // during start-up
    // Read once the camera has played: its capabilities are known then, and a
    // camera that does not answer never holds up the window.
    IPtzControl* presets =
        m_nMode == kModeIp && control && (caps & kCapPresets) && pane.stream->HasPlayed()
            ? control
            : nullptr;
    if (presets == m_presets->Control() && m_presets->isHidden() == !presets)
        return;
    m_presets->setVisible(presets != nullptr);
    m_presets->SetControl(presets);
    PlaceLeftColumn();
}

void CTivanoDlg::DrawPaneFrames(int selected, QPainter& painter) const {
    const QPen oldPen = painter.pen();
    const QPen red(QColor(255, 0, 0), 2, Qt::SolidLine);
    const QPen black(QColor(0, 0, 0), 2, Qt::SolidLine);
    const int panes = m_nLayout == 1 ? 1 : kPaneCount;
    for (int i = 0; i < panes; ++i) {
        const QRect r = m_paneCtrls[static_cast<size_t>(i)]->geometry();
        // Right and bottom as exclusive edges, one pixel outside the pane.
        const int left = r.x() - 1, top = r.y() - 1;
        const int right = r.x() + r.width() + 1, bottom = r.y() + r.height() + 1;
        painter.setPen(i == selected ? red : black);
        const QPoint outline[] = {
            {left, top}, {right, top}, {right, bottom}, {left, bottom}, {left, top}};
        painter.drawPolyline(outline, 5);
    }
    painter.setPen(oldPen);
}

}  // namespace strevo
