// What the four parameter buttons ("恢复默认", "导出配置", "导入配置", "刷新")
// do. The image parameter dialog binds them to its network login, the main
// window to the selected USB camera; the steps and messages are the same.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "ParamFile.h"

class QWidget;

namespace strevo {

// The camera the buttons act on: read, whole write and showing in the pages
// (ParamFileTarget), and the restore command.
struct ParamButtonTarget {
    ParamFileTarget camera;
    std::function<int32_t()> setDefaultParam;
};

// A message box with OK and Cancel; true for OK.
bool AskOkCancel(QWidget* parent, const QString& text);

// Confirms, restores the defaults and reads the record again to show it.
// Cancel sends nothing; a failed restore (already reported) reads nothing.
void RestoreDefaultParams(QWidget* parent, const ParamButtonTarget& target);
// Reads the record and shows it, or "获取图像参数失败: %d.".
int32_t RereadParams(const ParamFileTarget& camera);
// Ask for the path with the path dialog (folder mode for export, file mode
// for import) and run the parameter-file procedure; cancelling does nothing.
void ExportParamsToFile(QWidget* parent, const ParamFileTarget& camera);
void ImportParamsFromFile(QWidget* parent, const ParamFileTarget& camera);

}  // namespace strevo
