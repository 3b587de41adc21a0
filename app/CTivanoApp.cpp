#include "CTivanoApp.h"

namespace strevo {

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/icons/strevo_%1.png").arg(size), QSize(size, size));
    return icon;
}

CTivanoApp::CTivanoApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Strevo"));
    setWindowIcon(ProgramIcon());
}

}  // namespace strevo
