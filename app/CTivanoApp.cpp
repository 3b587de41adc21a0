#include "CTivanoApp.h"

#include <QIconEngine>
#include <QLibraryInfo>
#include <QPainter>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "CAddedCameras.h"
#include "CTivanoDlg.h"
#include "ModulePath.h"
#include "NetCommands.h"
#include "OperatorMessages.h"

namespace strevo {

namespace {

// Saves the window once the tree has been filled, then closes it (demos and
// documentation pictures). With previews > 0 the first cameras of the tree are
// opened in the panes first, as double-clicks would, and given waitMs to play;
// with closedMs > 0 they are then closed as "关闭所有视频" would, and the window
// stays closedMs longer (the memory benchmark looks at the program meanwhile).
void ArrangeScreenshot(CTivanoDlg& dlg, const QString& path, int previews, int added, int waitMs,
                       int closedMs) {
    QObject::connect(
        &dlg, &CTivanoDlg::DeviceTreeRefreshed, &dlg,
        [&dlg, path, previews, added, waitMs, closedMs] {
            int opened = 0;
            if (dlg.Mode() == CTivanoDlg::kModeIp) {
                // Cameras added by address first, then the discovered ones.
                for (const AddedCamera& camera : dlg.AddedCameras()->Cameras()) {
                    if (opened == std::min(added, previews))
                        break;
                    dlg.OpenAddedCamera(camera);
                    ++opened;
                }
                // As a double-click opens them (ONVIF-only cameras too).
                const std::vector<DeviceNode> nodes = dlg.Nodes();
                for (const DeviceNode& node : nodes) {
                    if (opened == previews)
                        break;
                    dlg.Tree()->setCurrentItem(node.item);
                    dlg.OnTreeDoubleClick();
                    ++opened;
                }
            }
            auto save = [&dlg, path] {
                if (!dlg.grab().save(path))
                    std::fprintf(stderr, "strevo: could not save %s\n", qPrintable(path));
                dlg.close();
            };
            if (opened > 0 && closedMs > 0) {
                QTimer::singleShot(waitMs, &dlg, [&dlg, save, closedMs] {
                    dlg.OnCloseAllVideo();
                    QTimer::singleShot(closedMs, &dlg, save);
                });
            } else {
                QTimer::singleShot(opened > 0 ? waitMs : 300, &dlg, save);
            }
        },
        Qt::SingleShotConnection);
}

// The program icon: one file per size. Qt's own engine decodes every file as
// it is added (the 256 px one alone is a quarter of a megabyte, kept for the
// program's life); this one reads the file of the size asked for when it is
// asked for and keeps nothing, choosing and scaling as Qt's does: the smallest
// size at least as large as asked for, else the largest, scaled down to fit.
class ProgramIconEngine : public QIconEngine {
  public:
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pm(QStringLiteral(":/icons/strevo_%1.png").arg(BestSide(size)));
        const QSize actual = actualSize(size, mode, state);
        if (pm.isNull() || actual.isEmpty())
            return QPixmap();
        if (pm.size() != actual)
            pm = pm.scaled(actual, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (mode == QIcon::Normal)
            return pm;
        return QIcon(pm).pixmap(actual, mode, state);  // the style's disabled or active look
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        QSize actual(BestSide(size), BestSide(size));
        if (actual.width() > size.width() || actual.height() > size.height())
            actual.scale(size, Qt::KeepAspectRatio);
        return actual;
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, pixmap((QSizeF(rect.size()) * ratio).toSize(), mode, state));
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        QList<QSize> sizes;
        if (mode == QIcon::Normal && state == QIcon::Off)
            for (int side : kSides) sizes.append(QSize(side, side));
        return sizes;
    }
    QString key() const override { return QStringLiteral("ProgramIconEngine"); }
    QIconEngine* clone() const override { return new ProgramIconEngine; }

  private:
    static constexpr int kSides[] = {16, 32, 48, 256};

    static int BestSide(const QSize& size) {
        const qint64 wanted = qint64{size.width()} * size.height();
        for (int side : kSides)
            if (qint64{side} * side >= wanted)
                return side;
        return kSides[std::size(kSides) - 1];
    }
};

}  // namespace

QIcon ProgramIcon() {
    return QIcon(new ProgramIconEngine);
}

bool InstallQtChineseTexts(QTranslator* translator) {
    // The program is Chinese whatever the system's language. Qt's catalogue
    // sits where Qt keeps its translations, beside a deployed program, or in
    // the installed program's data folder (bin/../share/strevo).
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString dirs[] = {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                            appDir + QStringLiteral("/translations"),
                            appDir + QStringLiteral("/../share/strevo/translations")};
    for (const QString& dir : dirs) {
        if (translator->load(QStringLiteral("qtbase_zh_CN"), dir))
            return QCoreApplication::installTranslator(translator);
    }
    std::fprintf(stderr, "strevo: Qt's Chinese texts (qtbase_zh_CN.qm) not found\n");
    return false;
}

CTivanoApp::CTivanoApp(int& argc, char** argv) : QApplication(argc, argv) {
    // Qt needs no registration of control classes; settings live in
    // toolscfg.ini, so there is no registry key to name either.
    setApplicationName(QStringLiteral("Strevo"));
    setWindowIcon(ProgramIcon());
    InstallQtChineseTexts(&m_qtTexts);
    m_messages.Install();
}

CTivanoApp::~CTivanoApp() = default;

int CTivanoApp::Run() {
    // A folder whose path is too long would put the settings and the log
    // somewhere else; the operator is told instead.
    const std::string moduleDir = ModuleDirectory();
    if (moduleDir.empty()) {
        ShowMessage("%s", kModuleDirectoryTooLong);
        return 1;
    }
    CTivanoDlg dlg;  // its own folder, or the user's folders when installed
    m_pMainWnd = &dlg;
    m_messages.SetOwner(&dlg);
    if (const char* shot = std::getenv("STREVO_SCREENSHOT"); shot && *shot) {
        const char* previews = std::getenv("STREVO_SCREENSHOT_PREVIEWS");
        const char* waitMs = std::getenv("STREVO_SCREENSHOT_WAIT_MS");
        const char* closedMs = std::getenv("STREVO_SCREENSHOT_CLOSED_MS");
        const char* added = std::getenv("STREVO_SCREENSHOT_ADDED");
        ArrangeScreenshot(dlg, QString::fromLocal8Bit(shot), previews ? std::atoi(previews) : 0,
                          added ? std::atoi(added) : 0,
                          waitMs ? std::max(0, std::atoi(waitMs)) : 3000,
                          closedMs ? std::max(0, std::atoi(closedMs)) : 0);
    }
    dlg.show();
    exec();
    m_messages.SetOwner(nullptr);
    m_pMainWnd = nullptr;
    // The main window shuts down as it is destroyed here; no further loop runs.
    return 0;
}

}  // namespace strevo
