#include "CTivanoApp.h"

#include <QApplication>
#include <QIconEngine>
#include <QMouseEvent>
#include <QLibraryInfo>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "CAddedCameras.h"
#include "CPtzCtrl.h"
#include "CTivanoDlg.h"
#include "ModulePath.h"
#include "NetCommands.h"
#include "OperatorMessages.h"

namespace strevo {

namespace {

// What the screenshot mode does besides the window (STREVO_SCREENSHOT_*).
struct ShotScript {
    QString path;          // the window
    int previews = 0;      // cameras opened, as double-clicks would
    int added = 0;         // of those, cameras added by address first
    int waitMs = 3000;     // for the panes to play
    int closedMs = 0;      // after "关闭所有视频", before the picture
    QString ptzButton;     // a PTZ panel button held for ptzMs before the picture
    int ptzMs = 0;
    QString paramsPath;    // "配置" of the selected pane, its dialog saved here
};

// The mouse on a widget's centre, as an operator's press or release.
void SendMouse(QWidget* w, QEvent::Type type) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QMouseEvent event(type, at, w->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

// Saves the window once the tree has been filled, then closes it (demos and
// documentation pictures, and the check of the Windows program under Wine).
// With previews > 0 the first cameras of the tree are opened in the panes
// first, as double-clicks would, and given waitMs to play; with closedMs > 0
// they are then closed as "关闭所有视频" would, and the window stays closedMs
// longer (the memory benchmark looks at the program meanwhile). A PTZ button
// is pressed and released with the mouse before the picture; "配置" is opened
// after it, and its dialog saved once it has read the camera.
void ArrangeScreenshot(CTivanoDlg& dlg, const ShotScript& script) {
    QObject::connect(
        &dlg, &CTivanoDlg::DeviceTreeRefreshed, &dlg,
        [&dlg, script] {
            int opened = 0;
            if (dlg.Mode() == CTivanoDlg::kModeIp) {
                // Cameras added by address first, then the discovered ones.
                for (const AddedCamera& camera : dlg.AddedCameras()->Cameras()) {
                    if (opened == std::min(script.added, script.previews))
                        break;
                    dlg.OpenAddedCamera(camera);
                    ++opened;
                }
                // As a double-click opens them (ONVIF-only cameras too).
                const std::vector<DeviceNode> nodes = dlg.Nodes();
                for (const DeviceNode& node : nodes) {
                    if (opened == script.previews)
                        break;
                    dlg.Tree()->setCurrentItem(node.item);
                    dlg.OnTreeDoubleClick();
                    ++opened;
                }
            }
            auto saveParams = [&dlg, script] {
                // The dialog reads the camera as it opens; its loop runs this.
                QTimer::singleShot(std::max(1500, script.waitMs / 2), &dlg, [&dlg, script] {
                    QWidget* modal = QApplication::activeModalWidget();
                    if (!modal || !modal->grab().save(script.paramsPath))
                        std::fprintf(stderr, "strevo: could not save %s\n",
                                     qPrintable(script.paramsPath));
                    if (modal)
                        modal->close();
                    QTimer::singleShot(200, &dlg, &QWidget::close);
                });
                dlg.OnConfig();
            };
            auto save = [&dlg, script, saveParams] {
                if (!dlg.grab().save(script.path))
                    std::fprintf(stderr, "strevo: could not save %s\n", qPrintable(script.path));
                if (script.paramsPath.isEmpty())
                    dlg.close();
                else
                    saveParams();
            };
            QPushButton* ptz = script.ptzButton.isEmpty()
                                   ? nullptr
                                   : dlg.Ptz()->findChild<QPushButton*>(script.ptzButton);
            if (!script.ptzButton.isEmpty() && !ptz)
                std::fprintf(stderr, "strevo: no PTZ button %s\n", qPrintable(script.ptzButton));
            if (opened > 0 && script.closedMs > 0) {
                QTimer::singleShot(script.waitMs, &dlg, [&dlg, save, script] {
                    dlg.OnCloseAllVideo();
                    QTimer::singleShot(script.closedMs, &dlg, save);
                });
            } else if (opened > 0 && ptz) {
                QTimer::singleShot(script.waitMs, &dlg, [&dlg, ptz, save, script] {
                    SendMouse(ptz, QEvent::MouseButtonPress);
                    QTimer::singleShot(script.ptzMs, &dlg, [&dlg, ptz, save] {
                        SendMouse(ptz, QEvent::MouseButtonRelease);
                        QTimer::singleShot(1000, &dlg, save);  // the picture catches up
                    });
                });
            } else {
                QTimer::singleShot(opened > 0 ? script.waitMs : 300, &dlg, save);
            }
        },
        Qt::SingleShotConnection);
}

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::max(0, std::atoi(v)) : fallback;
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
        ShotScript script;
        script.path = QString::fromLocal8Bit(shot);
        script.previews = EnvInt("STREVO_SCREENSHOT_PREVIEWS", 0);
        script.added = EnvInt("STREVO_SCREENSHOT_ADDED", 0);
        script.waitMs = EnvInt("STREVO_SCREENSHOT_WAIT_MS", 3000);
        script.closedMs = EnvInt("STREVO_SCREENSHOT_CLOSED_MS", 0);
        // BUTTON:MS, a button of the PTZ panel by name (btnUpRight) and how long it is held.
        const QString ptz = qEnvironmentVariable("STREVO_SCREENSHOT_PTZ");
        script.ptzButton = ptz.section(QLatin1Char(':'), 0, 0);
        script.ptzMs = std::max(1, ptz.section(QLatin1Char(':'), 1, 1).toInt());
        script.paramsPath = qEnvironmentVariable("STREVO_SCREENSHOT_PARAMS");
        ArrangeScreenshot(dlg, script);
    }
    dlg.show();
    exec();
    m_messages.SetOwner(nullptr);
    m_pMainWnd = nullptr;
    // The main window shuts down as it is destroyed here; no further loop runs.
    return 0;
}

}  // namespace strevo
