// The About box: program icon, name and version.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class Dlg100;
}

namespace strevo {

class AboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDlg(QWidget* parent = nullptr);
    ~AboutDlg() override;

  private:
    std::unique_ptr<Ui::Dlg100> m_ui;
};

}  // namespace strevo
