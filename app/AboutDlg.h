// The About box: program icon, name and version, and the files in use.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class Dlg100;
}

namespace strevo {

class AboutDlg : public QDialog {
    Q_OBJECT
  public:
    // configPath and logDir: the settings file and log folder the program
    // uses; shown below the version when given.
    explicit AboutDlg(QWidget* parent = nullptr, const std::string& configPath = {},
                      const std::string& logDir = {});
    ~AboutDlg() override;

  private:
    std::unique_ptr<Ui::Dlg100> m_ui;
};

}  // namespace strevo
