// Qt from the prefix on Windows: the Chinese translation, widgets painted
// offscreen, a PNG written, the windows platform plugin loadable, and a
// loopback TCP connection through Qt Network.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QPluginLoader>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTranslator>
#include <QVBoxLayout>
#include <cstdio>

static int failures = 0;
static void Expect(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    std::fflush(stdout);
    failures += ok ? 0 : 1;
}

int main(int argc, char** argv) {
    // argv[1]: the folder with qtbase_zh_CN.qm, argv[2]: qwindows.dll
    QApplication app(argc, argv);
    if (argc < 3) return 2;
    QTranslator zh;
    Expect(zh.load(QStringLiteral("qtbase_zh_CN"), QString::fromLocal8Bit(argv[1])),
           "qtbase_zh_CN.qm loads");
    app.installTranslator(&zh);
    Expect(QCoreApplication::translate("QPlatformTheme", "Cancel") == QString::fromUtf8("\xe5\x8f\x96\xe6\xb6\x88"),
           "Cancel is translated");

    QWidget w;
    auto* layout = new QVBoxLayout(&w);
    layout->addWidget(new QLabel(QString::fromUtf8("\xe6\x91\x84\xe5\x83\x8f\xe6\x9c\xba")));
    layout->addWidget(new QPushButton(QStringLiteral("OK")));
    w.resize(160, 80);
    QImage shot = w.grab().toImage();
    Expect(!shot.isNull() && shot.width() == 160, "widgets paint");
    const QString png = QDir::temp().filePath(QStringLiteral("qt_probe.png"));
    Expect(shot.save(png) && QImage(png).size() == shot.size(), "PNG written and read back");

    QPluginLoader windows(QString::fromLocal8Bit(argv[2]));
    Expect(windows.load(), "windows platform plugin loads");

    QTcpServer server;
    Expect(server.listen(QHostAddress::LocalHost), "listens on loopback");
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    Expect(client.waitForConnected(5000) && server.waitForNewConnection(5000), "connects over loopback");

    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
