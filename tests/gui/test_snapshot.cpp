// "截图" of the pane context menu against a simulated network camera: the PNG
// has the stream's size, not the pane's (ffprobe reads it, an independent
// reader), its name is the camera's address and the local time, the folder is
// asked for once and kept in toolscfg.ini, and a pane without a picture says
// so without asking for a folder or writing a file. The window starts
// discovery, so this runs in the private network namespace.
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "CPaneStream.h"
#include "CPreviewPane.h"
#include "CTivanoDlg.h"
#include "IniStore.h"
#include "MessageRecorder.h"
#include "NetCommands.h"
#include "SimNetCameras.h"

using namespace strevo;

namespace {

// Answers the folder question with a fixed folder and counts the questions.
class SnapshotWindow : public CTivanoDlg {
  public:
    using CTivanoDlg::CTivanoDlg;
    QString folder;
    int asked = 0;

  protected:
    QString ChooseSnapshotFolder() override {
        ++asked;
        return folder;
    }
};

QString Probe(const QString& file) {
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {"-v", "error", "-select_streams", "v:0", "-show_entries",
             "stream=codec_name,width,height", "-of", "default=nw=1", file});
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Right-clicks pane i as the operator would, which makes it the context pane.
void PointAtPane(CTivanoDlg& d, int i) {
    const QPoint at = d.PaneControl(i)->geometry().center();
    QVERIFY(d.ContextMenuAt(at) == d.VideoMenu());
    QCOMPARE(d.ContextPane(), i);
}

}  // namespace

class TestSnapshot : public QObject {
    Q_OBJECT

  private slots:
    void snapshotsAtTheStreamsSize() {
        SimNetCameras cams(1, "127.0.0.2", {"--net-video", "352x198@15"});
        QVERIFY2(cams.Started(), cams.BadOption().c_str());
        MessageRecorder messages;
        QTemporaryDir moduleDir, shots;
        SnapshotWindow d(moduleDir.path().toStdString() + "/");
        d.folder = shots.path();
        d.resize(1015, 606);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QVERIFY(d.VideoMenu()->actions().contains(d.SnapshotItem()));

        // A pane that never had a camera: said so, nothing asked, nothing written.
        PointAtPane(d, 1);
        d.SnapshotItem()->trigger();
        QCOMPARE(messages.texts, std::vector<std::string>{"该窗口没有图像，无法截图"});
        QCOMPARE(d.StatusText(), QStringLiteral("截图失败: 该窗口没有图像"));
        QCOMPARE(d.asked, 0);

        d.OpenPreview(ProgramLoginInfo(cams.Address(0).c_str()), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!d.PanePicture(0)->Picture().isNull(), 10000);
        QVERIFY(d.PaneControl(0)->size() != QSize(352, 198));
        PointAtPane(d, 0);
        d.SnapshotItem()->trigger();
        QCOMPARE(d.asked, 1);
        QVERIFY(d.StatusText().startsWith(QStringLiteral("截图成功: ")));
        const QString path = d.StatusText().mid(6);
        const QString name = QFileInfo(path).fileName();
        QVERIFY2(QRegularExpression(QStringLiteral("^127\\.0\\.0\\.2_\\d{8}_\\d{6}_\\d{3}\\.png$"))
                     .match(name)
                     .hasMatch(),
                 qPrintable(name));
        QCOMPARE(QFileInfo(path).absolutePath(), QDir(shots.path()).absolutePath());
        QCOMPARE(Probe(path), QStringLiteral("codec_name=png\nwidth=352\nheight=198"));
        char kept[512] = {};
        IniGetString("SNAPSHOT", "Folder", "", kept, sizeof kept, d.ConfigPath().c_str());
        QCOMPARE(QString::fromUtf8(kept), shots.path());

        // The next one goes to the same folder without asking.
        QTest::qWait(5);
        d.SnapshotItem()->trigger();
        QCOMPARE(d.asked, 1);
        QTRY_COMPARE(QDir(shots.path()).entryList({"*.png"}, QDir::Files).size(), 2);
        QCOMPARE(messages.texts.size(), size_t{1});
    }
};

QTEST_MAIN(TestSnapshot)
#include "test_snapshot.moc"
