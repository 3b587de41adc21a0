// Start-up of the program. For now it shows the main window's template only;
// the main window class takes this over.
#include <QMainWindow>

#include "CTivanoApp.h"
#include "DialogUnits.h"
#include "ui_dlg_102.h"

int main(int argc, char** argv) {
    strevo::CTivanoApp app(argc, argv);
    QMainWindow window;
    Ui::Dlg102 ui;
    ui.setupUi(&window);
    strevo::ScaleDialogUnits(&window, strevo::DefaultDialogFont());
    window.setWindowIcon(strevo::ProgramIcon());
    window.show();
    return app.exec();
}
