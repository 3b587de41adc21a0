#include "AboutDlg.h"

#include <QPushButton>

#include "CTivanoApp.h"
#include "DialogUnits.h"
#include "ui_dlg_100.h"

namespace strevo {

AboutDlg::AboutDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::Dlg100>()) {
    m_ui->setupUi(this);
    ScaleDialogUnits(this, DefaultDialogFont());
    setFixedSize(size());
    // The icon keeps its natural size, like an icon control does.
    m_ui->lblIcon->setPixmap(ProgramIcon().pixmap(32, 32));
    m_ui->lblIcon->resize(m_ui->lblIcon->size().expandedTo(QSize(32, 32)));
    connect(m_ui->btnOk, &QPushButton::clicked, this, &AboutDlg::accept);
}

AboutDlg::~AboutDlg() = default;

}  // namespace strevo
