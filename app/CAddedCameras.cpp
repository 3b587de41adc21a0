#include "CAddedCameras.h"

#include <QAction>
#include <QMenu>
#include <QTreeWidget>

#include "CAddCameraDlg.h"
#include "OperatorMessages.h"
#include "RtspSource.h"

namespace strevo {

namespace {

// Short enough for the tree's width: an RTSP camera as host[:port]/path, the
// scheme and the usual port left out (the tooltip has the whole URL).
QString ItemText(const AddedCamera& camera) {
    rtsp::UrlParts parts;
    if (camera.kind != CameraKind::kRtsp || !rtsp::ParseUrl(camera.address, &parts))
        return QString::fromStdString(camera.address);
    std::string text = parts.host;
    if (parts.port != 554)
        text += ":" + std::to_string(parts.port);
    if (parts.path != "/")
        text += parts.path;
    return QString::fromStdString(text);
}

}  // namespace

CAddedCameras::CAddedCameras(QTreeWidget* tree, QTreeWidgetItem* parent, QMenu* treeMenu,
                             std::string iniPath, QWidget* dialogParent)
    : QObject(tree), m_tree(tree), m_dialogParent(dialogParent), m_iniPath(std::move(iniPath)) {
    m_root = new QTreeWidgetItem(parent, QStringList{QStringLiteral("手动添加的设备")});
    m_addAction = treeMenu->addAction(QStringLiteral("添加设备…"));
    m_removeAction = treeMenu->addAction(QStringLiteral("删除设备"));
    connect(m_addAction, &QAction::triggered, this, [this] { OnAdd(); });
    connect(m_removeAction, &QAction::triggered, this, [this] { OnRemove(); });
    connect(treeMenu, &QMenu::aboutToShow, this,
            [this] { m_removeAction->setEnabled(Find(m_tree->currentItem()) != nullptr); });
    m_cameras = LoadAddedCameras(m_iniPath);
    for (const AddedCamera& camera : m_cameras) m_items.push_back(NewItem(camera));
    m_root->setExpanded(true);
}

CAddedCameras::~CAddedCameras() = default;

QTreeWidgetItem* CAddedCameras::NewItem(const AddedCamera& camera) {
    auto* item = new QTreeWidgetItem(m_root, QStringList{ItemText(camera)});
    item->setToolTip(0, camera.user.empty() ? QString::fromStdString(camera.address)
                                            : QStringLiteral("%1\n用户名: %2")
                                                  .arg(QString::fromStdString(camera.address),
                                                       QString::fromStdString(camera.user)));
    return item;
}

void CAddedCameras::SetVisible(bool visible) {
    m_root->setHidden(!visible);
    m_addAction->setVisible(visible);
    m_removeAction->setVisible(visible);
}

const AddedCamera* CAddedCameras::Find(const QTreeWidgetItem* item) const {
    for (size_t i = 0; i < m_items.size(); ++i)
        if (item && m_items[i] == item)
            return &m_cameras[i];
    return nullptr;
}

Credentials CAddedCameras::CredentialsOf(const AddedCamera& camera) {
    Credentials c;
    c.user = camera.user;
    if (!camera.user.empty())
        c.password = m_passwords.Get(camera.Key());
    return c;
}

std::unique_ptr<ICamera> CAddedCameras::MakeCamera(const AddedCamera& camera) {
    const Credentials credentials = CredentialsOf(camera);
    if (camera.kind == CameraKind::kRtsp)
        return MakeRtspCamera(camera.address, credentials);
    if (camera.kind == CameraKind::kOnvif)
        return MakeOnvifCamera(camera.address, credentials);
    return MakeSdkCamera(camera.address, camera.user.empty() ? nullptr : &credentials);
}

bool CAddedCameras::Save() {
    if (SaveAddedCameras(m_iniPath, m_cameras))
        return true;
    ShowMessage("保存设备列表失败: %s", m_iniPath.c_str());
    return false;
}

bool CAddedCameras::Add(const AddedCamera& camera, const std::string& password, bool remember) {
    const std::string key = camera.Key();
    for (size_t i = 0; i < m_cameras.size(); ++i) {
        if (m_cameras[i].Key() == key) {
            m_passwords.Put(key, password, remember);
            m_tree->setCurrentItem(m_items[i]);
            return true;
        }
    }
    if (m_cameras.size() >= static_cast<size_t>(kMaxAddedCameras)) {
        ShowMessage("最多添加 %d 台设备", kMaxAddedCameras);
        return false;
    }
    if (!camera.user.empty() && !m_passwords.Put(key, password, remember))
        ShowMessage("密码未能保存到系统密码库，只保存到程序退出");
    m_cameras.push_back(camera);
    m_items.push_back(NewItem(camera));
    m_root->setExpanded(true);
    m_tree->setCurrentItem(m_items.back());
    return Save();
}

bool CAddedCameras::Remove(const QTreeWidgetItem* item) {
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i] != item)
            continue;
        m_passwords.Forget(m_cameras[i].Key());
        delete m_items[i];
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i));
        m_cameras.erase(m_cameras.begin() + static_cast<std::ptrdiff_t>(i));
        return Save();
    }
    return false;
}

int CAddedCameras::RunDialog(CAddCameraDlg& dialog) {
    return dialog.exec();
}

void CAddedCameras::OnAdd() {
    CAddCameraDlg dialog(m_dialogParent, m_passwords.StoreAvailable());
    if (RunDialog(dialog) != QDialog::Accepted)
        return;
    Add(dialog.Camera(), dialog.Password(), dialog.RememberPassword());
}

void CAddedCameras::OnRemove() {
    Remove(m_tree->currentItem());
}

}  // namespace strevo
