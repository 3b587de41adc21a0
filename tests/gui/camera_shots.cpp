// The add dialog as the operator fills it, for the documentation
// (scripts/screenshots); not a test. Writes add-camera.png into the folder given.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

#include "CAddCameraDlg.h"
#include "CTivanoApp.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTranslator qtTexts;  // "确定" / "取消", as in the program
    strevo::InstallQtChineseTexts(&qtTexts);
    if (argc != 2) {
        std::fprintf(stderr, "usage: gui_camera_shots DIR\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/add-camera.png");
    strevo::CAddCameraDlg dlg(nullptr, true);
    dlg.AddressEdit()->setText(QStringLiteral("rtsp://192.168.5.21:554/main"));
    dlg.KindBox()->setCurrentIndex(1);
    dlg.UserEdit()->setText(QStringLiteral("admin"));
    dlg.PasswordEdit()->setText(QStringLiteral("password"));
    dlg.show();
    int rc = 1;
    QTimer::singleShot(300, &dlg, [&] {
        rc = dlg.grab().save(path) ? 0 : 1;
        dlg.reject();
    });
    dlg.exec();
    return rc;
}
