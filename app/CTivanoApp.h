// The application object: one per process, created first by main(). It runs
// the main window until the operator closes it.
#pragma once

#include <QApplication>
#include <QIcon>
#include <QTranslator>

#include "GuiMessages.h"

namespace strevo {

class CTivanoDlg;

// The program icon (resource 128 of the original), in all its sizes; each size
// is read from its file only when asked for.
QIcon ProgramIcon();

// Loads Qt's own Chinese texts (message-box buttons, file dialogs, edit-field
// menus) into translator and installs it; false when the catalogue is missing.
bool InstallQtChineseTexts(QTranslator* translator);

class CTivanoApp : public QApplication {
    Q_OBJECT
  public:
    CTivanoApp(int& argc, char** argv);
    ~CTivanoApp() override;

    // Builds the main window, runs it until it is closed and returns the
    // process's exit code. With STREVO_SCREENSHOT=file.png set, the window
    // saves a picture of itself once the device tree has been filled and closes
    // (STREVO_SCREENSHOT_PREVIEWS: panes opened first, STREVO_SCREENSHOT_ADDED of
    // them from the cameras added by address).
    int Run();

    CTivanoDlg* MainWindow() const { return m_pMainWnd; }

  private:
    QTranslator m_qtTexts;
    GuiMessages m_messages;
    CTivanoDlg* m_pMainWnd = nullptr;
};

}  // namespace strevo
