// The application object: one per process, created first by main().
#pragma once

#include <QApplication>
#include <QIcon>

namespace strevo {

// The program icon (resource 128 of the original), in all its sizes.
QIcon ProgramIcon();

class CTivanoApp : public QApplication {
    Q_OBJECT
  public:
    CTivanoApp(int& argc, char** argv);
};

}  // namespace strevo
