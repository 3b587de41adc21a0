#include "ParamButtons.h"

#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QWidget>

#include "CDlgBrowser.h"
#include "OperatorMessages.h"
#include "VideoParam.h"

namespace strevo {

namespace {

// The path as the file functions take it (the platform's 8-bit file names);
// false when the operator cancelled the path dialog.
bool AskPath(QWidget* parent, bool folderMode, std::string* path) {
    CDlgBrowser dlg(parent);
    dlg.m_bFolderMode = folderMode;
    if (dlg.exec() != QDialog::Accepted)
        return false;
    *path = QFile::encodeName(dlg.m_strPath).toStdString();
    return true;
}

}  // namespace

bool AskOkCancel(QWidget* parent, const QString& text) {
    QWidget* owner = parent ? parent->window() : nullptr;
    QMessageBox box(QMessageBox::NoIcon,
                    owner ? owner->windowTitle() : QGuiApplication::applicationDisplayName(), text,
                    QMessageBox::Ok | QMessageBox::Cancel, owner);
    return box.exec() == QMessageBox::Ok;
}

int32_t RereadParams(const ParamFileTarget& camera) {
    VideoParam p{};
    const int32_t rc = camera.getVideoParam(&p);
    if (rc != 0) {
        ShowMessage("获取图像参数失败: %d.", rc);
        return rc;
    }
    camera.show(p);
    return 0;
}

void RestoreDefaultParams(QWidget* parent, const ParamButtonTarget& target) {
    if (!AskOkCancel(parent, QStringLiteral("所有视频参数都将恢复默认，确认执行此操作?")))
        return;
    if (target.setDefaultParam() < 0)
        return;
    RereadParams(target.camera);
}

void ExportParamsToFile(QWidget* parent, const ParamFileTarget& camera) {
    std::string path;
    if (AskPath(parent, true, &path))
        ExportParams(camera, path);
}

void ImportParamsFromFile(QWidget* parent, const ParamFileTarget& camera) {
    std::string path;
    if (AskPath(parent, false, &path))
        ImportParams(camera, path);
}

}  // namespace strevo
