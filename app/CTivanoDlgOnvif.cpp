// The main window's parts for cameras that speak ONVIF: their entries in the
// device tree (beside those of our discovery), "重启设备", and the preset list
// under the PTZ panel with its shortcuts.
#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QShortcut>
#include <QTreeWidget>

#include "CAddedCameras.h"
#include "CPaneStream.h"
#include "CPtzCtrl.h"
#include "CPtzGamepad.h"
#include "CPtzPresets.h"
#include "CTivanoDlg.h"
#include "NetCommands.h"
#include "OnvifScanner.h"
#include "OperatorMessages.h"
#include "PtzControl.h"
#include "TextCut.h"

namespace strevo {

namespace {

bool SameCameras(const std::vector<FoundOnvifCamera>& a, const std::vector<FoundOnvifCamera>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].from != b[i].from || a[i].service != b[i].service || a[i].name != b[i].name)
            return false;
    return true;
}

// The device service at the host the answer came from: a camera behind NAT, or
// one that names itself 127.0.1.1, gives an address that does not reach it.
std::string ServiceAt(const std::string& host, const std::string& service) {
    const size_t start = service.find("://");
    if (start == std::string::npos || host.empty())
        return service;
    const size_t hostStart = start + 3;
    const size_t hostEnd = service.find_first_of(":/", hostStart);
    return service.substr(0, hostStart) + host +
           (hostEnd == std::string::npos ? std::string() : service.substr(hostEnd));
}

}  // namespace

std::string CTivanoDlg::HostOf(const std::string& address) {
    std::string rest = address;
    if (const size_t scheme = rest.find("://"); scheme != std::string::npos)
        rest = rest.substr(scheme + 3);
    if (const size_t at = rest.rfind('@', rest.find('/')); at != std::string::npos)
        rest = rest.substr(at + 1);
    return rest.substr(0, rest.find_first_of(":/"));
}

void CTivanoDlg::SetUpOnvif() {
    m_presets = new CPtzPresets(Client());
    // Four presets in sight; the tree keeps the rest of the column.
    QListWidget* list = m_presets->List();
    list->setFixedHeight(list->fontMetrics().height() * 4 + 2 * list->frameWidth() + 8);
    m_presets->resize(m_ptz->width(), m_presets->sizeHint().height());
    m_presets->hide();
    for (int n = 1; n <= 9; ++n) {
        auto* key = new QShortcut(QKeySequence(Qt::CTRL | (Qt::Key_0 + n)), this);
        key->setContext(Qt::WindowShortcut);
        connect(key, &QShortcut::activated, this, [this, n] { CallPreset(n); });
    }
    m_gamepad->onPreset = [this](int n) { CallPreset(n); };

    m_rebootItem = DevListMenu()->addAction(QStringLiteral("重启设备"));
    connect(m_rebootItem, &QAction::triggered, this, [this] { OnRebootDevice(); });
    connect(DevListMenu(), &QMenu::aboutToShow, this, [this] {
        m_rebootItem->setVisible(m_nMode == kModeIp);
        m_rebootItem->setEnabled(m_nMode == kModeIp && OnvifCameraOf(Tree()->currentItem()));
    });

    // Cameras that answer WS-Discovery. Every fill of the tree shows what the
    // last probe found and asks for a new one; a probe that finds something
    // else than the tree shows fills it again (without another probe).
    m_onvif = std::make_unique<OnvifScanner>([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_nMode != kModeIp || m_treeFillTimer.isActive() || m_bShutDown)
                    return;
                if (SameCameras(m_onvif->Cameras(), m_onvifShown))
                    return;
                m_onvifRefill = true;
                RefreshDeviceTree();
                m_onvifRefill = false;
            },
            Qt::QueuedConnection);
    });
    m_onvif->Start();
}

void CTivanoDlg::PlaceLeftColumn() {
    const int H = Client()->height();
    const int PW = m_ptz->width();
    const int PH = m_ptz->height();
    if (m_presets && m_nMode != kModeIp)
        m_presets->hide();
    const bool presets = m_presets && !m_presets->isHidden();
    const int below = presets ? m_presets->height() : 0;
    m_ptz->move(0, H - PH - below);
    if (presets)
        m_presets->setGeometry(0, H - below, PW, below);
    Tree()->resize(PW, std::max(0, H - PH - below));
}

void CTivanoDlg::AddOnvifNodes() {
    if (!m_onvif)
        return;
    m_onvifShown = m_onvif->Cameras();
    if (!m_onvifRefill)
        m_onvif->Probe();  // for the next fill
    for (const FoundOnvifCamera& camera : m_onvifShown) {
        const std::string host = HostOf(camera.from);
        DeviceNode* same = nullptr;
        for (DeviceNode& node : m_nodes)
            if (node.sdk && host == node.ip)
                same = &node;
        if (!same) {
            if (m_nodes.size() >= static_cast<size_t>(kMaxIpDevices + kMaxOnvifDevices))
                break;
            DeviceNode node;
            CutText(host.c_str(), node.ip, sizeof node.ip, true);
            node.item = new QTreeWidgetItem(m_foundItem);
            m_nodes.push_back(node);
            same = &m_nodes.back();
        }
        same->onvif = ServiceAt(host, camera.service);
        same->item->setText(0, QStringLiteral("%1 (%2)").arg(QString::fromUtf8(same->ip),
                                                       same->sdk ? QStringLiteral("SDK, ONVIF")
                                                                 : QStringLiteral("ONVIF")));
        QString tip = QString::fromStdString(camera.service);
        if (!camera.name.empty() || !camera.hardware.empty())
            tip += QStringLiteral("\n%1 %2").arg(QString::fromStdString(camera.name),
                                                 QString::fromStdString(camera.hardware));
        same->item->setToolTip(0, tip);
    }
}

std::unique_ptr<ICamera> CTivanoDlg::OnvifCameraOf(const QTreeWidgetItem* item) {
    if (!item)
        return nullptr;
    if (const AddedCamera* added = m_added->Find(item))
        return added->kind == CameraKind::kOnvif ? m_added->MakeCamera(*added) : nullptr;
    for (const DeviceNode& node : m_nodes) {
        if (node.item != item || node.onvif.empty())
            continue;
        // The login the operator gave for this camera when adding it, else ours.
        for (const AddedCamera& added : m_added->Cameras())
            if (added.kind == CameraKind::kOnvif && HostOf(added.address) == node.ip)
                return MakeOnvifCamera(node.onvif, m_added->CredentialsOf(added));
        return MakeOnvifCamera(node.onvif, LoginCredentials(ProgramLoginInfo(node.ip)));
    }
    return nullptr;
}

bool CTivanoDlg::ConfirmReboot(const QString& question) {
    return QMessageBox::question(this, QStringLiteral("重启设备"), question,
                                 QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void CTivanoDlg::OnRebootDevice() {
    QTreeWidgetItem* item = Tree()->currentItem();
    std::unique_ptr<ICamera> camera = OnvifCameraOf(item);
    if (!camera)
        return;
    if (!ConfirmReboot(QStringLiteral("确定要重启设备 %1 吗？").arg(item->text(0))))
        return;
    std::string why;
    if (camera->Reboot(&why) != 0)
        ShowMessage("重启设备失败: %s", why.c_str());
    else
        ShowMessage("重启命令已发送，设备正在重启");
}

bool CTivanoDlg::CallPreset(int number) {
    if (m_nMode != kModeIp || m_presets->isHidden())
        return false;
    return m_presets->CallPreset(number - 1);
}

}  // namespace strevo
