// The main window's snapshot command (pane context menu) and the many-camera
// parameter import (USB mode): thin handlers over Snapshot.h and the import
// dialog.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidgetItem>
#include <ctime>

#include "CParamImportDlg.h"
#include "CPaneStream.h"
#include "CTivanoDlg.h"
#include "OperatorMessages.h"
#include "Snapshot.h"
#include "VideoParam.h"

namespace strevo {

void CTivanoDlg::SetUpTools() {
    // After the close commands, which keep their places.
    VideoMenu()->addSeparator();
    m_snapshotItem = VideoMenu()->addAction(QStringLiteral("截图"));
    connect(m_snapshotItem, &QAction::triggered, this, [this] { OnSnapshot(); });

    m_importMany = new QPushButton(QStringLiteral("多台设备"), Client());
    m_importMany->setObjectName(QStringLiteral("btnImportMany"));
    m_importMany->setAutoDefault(false);
    auto* menu = new QMenu(m_importMany);
    connect(menu->addAction(QStringLiteral("导入配置到多台设备…")), &QAction::triggered, this,
            [this] { OnImportMany(); });
    connect(menu->addAction(QStringLiteral("复制当前设备参数到…")), &QAction::triggered, this,
            [this] { OnCopyParamsToMany(); });
    m_importMany->setMenu(menu);
    // As tall as its neighbours, wide enough for the menu's arrow.
    m_importMany->resize(
        std::max(ImportButton()->width() + 16, m_importMany->sizeHint().width()),
        ImportButton()->height());
    m_importMany->hide();
}

QString CTivanoDlg::StatusText() const {
    return statusBar()->currentMessage();
}

void CTivanoDlg::ShowStatus(const QString& text) {
    statusBar()->showMessage(text);
}

QString CTivanoDlg::ChooseSnapshotFolder() {
    return QFileDialog::getExistingDirectory(this, QStringLiteral("选择截图保存目录"));
}

void CTivanoDlg::OnSnapshot() {
    const int index = m_nContextPane >= 0 ? m_nContextPane : m_nSelectedPane;
    const PreviewPane& pane = m_panes.at(static_cast<size_t>(index));
    const int32_t port = pane.playerPort.Get();
    if (!PlayerHasPicture(port)) {
        ShowStatus(QStringLiteral("截图失败: 该窗口没有图像"));
        ShowMessage("该窗口没有图像，无法截图");
        return;
    }
    // The folder is asked for once; one that has gone since is asked for again.
    std::string folder = m_config.SnapshotFolder();
    if (folder.empty() || !QDir(QFile::decodeName(folder.c_str())).exists()) {
        const QString chosen = ChooseSnapshotFolder();
        if (chosen.isEmpty())
            return;
        folder = QFile::encodeName(chosen).toStdString();
        m_config.SetSnapshotFolder(folder);
    }
    const QDateTime now = QDateTime::currentDateTime();
    std::tm local{};
    local.tm_year = now.date().year() - 1900;
    local.tm_mon = now.date().month() - 1;
    local.tm_mday = now.date().day();
    local.tm_hour = now.time().hour();
    local.tm_min = now.time().minute();
    local.tm_sec = now.time().second();
    const std::string address = pane.stream ? pane.stream->Camera().Address() : pane.ip;
    const QString path = QDir(QFile::decodeName(folder.c_str()))
                             .filePath(QFile::decodeName(
                                 SnapshotFileName(address, local, now.time().msec()).c_str()));
    const int32_t rc = SavePlayerPicture(port, QFile::encodeName(path).toStdString());
    if (rc == kSnapshotNoPicture) {
        ShowStatus(QStringLiteral("截图失败: 该窗口没有图像"));
        ShowMessage("该窗口没有图像，无法截图");
        return;
    }
    if (rc != 0) {
        ShowStatus(QStringLiteral("截图失败: %1").arg(rc));
        ShowMessage("截图保存失败: %d", rc);
        return;
    }
    ShowStatus(QStringLiteral("截图成功: %1").arg(QDir::toNativeSeparators(path)));
}

void CTivanoDlg::OnImportMany() {
    CommitPageEdits();
    RunParamImportDlg(nullptr, nullptr);
}

void CTivanoDlg::OnCopyParamsToMany() {
    CommitPageEdits();
    // Read once; every camera then gets these same bytes.
    VideoParam p{};
    const int32_t rc = m_usb.GetVideoParam(m_selectedUsb, &p);
    if (rc != 0) {
        ShowMessage("获取参数出错： %d", rc);
        return;
    }
    RunParamImportDlg(&p, m_selectedUsb);
}

void CTivanoDlg::RunParamImportDlg(const VideoParam* record, UsbHandle source) {
    CParamImportDlg dlg(this);
    for (const UsbDeviceEntry& entry : m_usb.Entries()) {
        if (entry.handle != nullptr && entry.handle != kInvalidUsbHandle)
            dlg.m_devices.push_back(entry);
    }
    if (record) {
        QString name;
        for (const DeviceNode& node : m_nodes)
            if (node.usb == source && node.item)
                name = node.item->text(0);
        dlg.SetRecord(*record, name.isEmpty() ? QStringLiteral("当前设备") : name, source);
    }
    dlg.exec();
    // The selected camera may have taken new values: show what it has now.
    if (m_selectedUsb) {
        VideoParam now{};
        if (m_usb.GetVideoParam(m_selectedUsb, &now) == 0)
            ShowVideoParam(now);
    }
}

}  // namespace strevo
