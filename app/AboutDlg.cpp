#include "AboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "CTivanoApp.h"
#include "DialogUnits.h"
#include "ui_dlg_100.h"

namespace strevo {

AboutDlg::AboutDlg(QWidget* parent, const std::string& configPath, const std::string& logDir)
    : QDialog(parent), m_ui(std::make_unique<Ui::Dlg100>()) {
    m_ui->setupUi(this);
    ScaleDialogUnits(this, DefaultDialogFont());
    // The icon keeps its natural size, like an icon control does.
    m_ui->lblIcon->setPixmap(ProgramIcon().pixmap(32, 32));
    m_ui->lblIcon->resize(m_ui->lblIcon->size().expandedTo(QSize(32, 32)));
    connect(m_ui->btnOk, &QPushButton::clicked, this, &AboutDlg::accept);

    // An installed program keeps its files in the user's folders, so the
    // operator is shown where; the box grows below the button to hold them.
    if (!configPath.empty() || !logDir.empty()) {
        auto* files = new QLabel(this);
        files->setObjectName(QStringLiteral("lblFiles"));
        files->setText(QStringLiteral("设置文件：%1\n日志文件夹：%2")
                           .arg(QString::fromLocal8Bit(configPath.c_str()),
                                QString::fromLocal8Bit(logDir.c_str())));
        files->setTextInteractionFlags(Qt::TextSelectableByMouse);
        const int margin = m_ui->lblIcon->x();
        const int top = m_ui->btnOk->geometry().bottom() + margin / 2;
        const QSize text = files->sizeHint();
        files->setGeometry(margin, top, text.width(), text.height());
        resize(std::max(width(), text.width() + 2 * margin), top + text.height() + margin);
    }
    setFixedSize(size());
}

AboutDlg::~AboutDlg() = default;

}  // namespace strevo
