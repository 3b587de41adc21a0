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
    // operator is shown where: below the version, the box widened and the
    // button moved down to keep its distance from the right and the bottom.
    if (!configPath.empty() || !logDir.empty()) {
        auto* files = new QLabel(this);
        files->setObjectName(QStringLiteral("lblFiles"));
        files->setText(QStringLiteral("设置文件：%1\n日志文件夹：%2")
                           .arg(QString::fromLocal8Bit(configPath.c_str()),
                                QString::fromLocal8Bit(logDir.c_str())));
        files->setTextInteractionFlags(Qt::TextSelectableByMouse);
        const QRect version = m_ui->lblVersion->geometry();
        const QRect ok = m_ui->btnOk->geometry();
        const int gapRight = width() - ok.x();
        const int gapBottom = height() - ok.y();
        const int margin = m_ui->lblIcon->x();
        const QSize text = files->sizeHint();
        files->setGeometry(version.x(), version.bottom() + margin / 2, text.width(), text.height());
        const int w = std::max(width(), files->geometry().right() + margin);
        const int okTop = std::max(ok.y(), files->geometry().bottom() + margin);
        m_ui->btnOk->move(w - gapRight, okTop);
        resize(w, okTop + gapBottom);
    }
    setFixedSize(size());
}

AboutDlg::~AboutDlg() = default;

}  // namespace strevo
