#include "CDlgBrowser.h"

#include <QDir>
#include <QFileDialog>
#include <QPushButton>

#include "DialogUnits.h"
#include "ui_dlg_284.h"

namespace strevo {

CDlgBrowser::CDlgBrowser(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::Dlg284>()) {
    m_ui->setupUi(this);
    ScaleDialogUnits(this, DefaultDialogFont());
    setFixedSize(size());
    connect(m_ui->btnBrowse, &QPushButton::clicked, this, &CDlgBrowser::OnBrowse);
    connect(m_ui->btnOk, &QPushButton::clicked, this, &CDlgBrowser::accept);
    connect(m_ui->btnCancel, &QPushButton::clicked, this, &CDlgBrowser::reject);
}

CDlgBrowser::~CDlgBrowser() = default;

QString CDlgBrowser::FolderModePath(bool chosen, const QString& folder) {
    const QString dir = chosen ? QDir::toNativeSeparators(folder) : QStringLiteral(".");
    const QChar sep = QDir::separator();
    // A drive or file-system root already ends with the separator; don't double it.
    if (dir.endsWith(sep))
        return dir + QLatin1String(kFileName);
    return dir + sep + QLatin1String(kFileName);
}

QString CDlgBrowser::FileModePath(bool chosen, const QString& file) {
    return chosen ? QDir::toNativeSeparators(file) : QString();
}

void CDlgBrowser::showEvent(QShowEvent* event) {
    m_ui->edtPath->setText(m_strPath);
    QDialog::showEvent(event);
}

void CDlgBrowser::accept() {
    m_strPath = m_ui->edtPath->text();
    QDialog::accept();
}

void CDlgBrowser::OnBrowse() {
    QString picked;
    if (m_bFolderMode) {
        const bool chosen = ChooseFolder(&picked);
        m_strPath = FolderModePath(chosen, picked);
    } else {
        const bool chosen = ChooseFile(&picked);
        m_strPath = FileModePath(chosen, picked);
    }
    m_ui->edtPath->setText(m_strPath);
}

bool CDlgBrowser::ChooseFolder(QString* folder) {
    QFileDialog dlg(this, QStringLiteral("Please select the input path"));
    dlg.setFileMode(QFileDialog::Directory);
    dlg.setOption(QFileDialog::ShowDirsOnly, true);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    const QStringList files = dlg.selectedFiles();
    *folder = files.isEmpty() ? QString() : files.first();
    return true;
}

bool CDlgBrowser::ChooseFile(QString* file) {
    QFileDialog dlg(this);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setNameFilters({QStringLiteral("DAT(*.dat)"), QStringLiteral("ALLSUPORTFILE(*.*)")});
    if (dlg.exec() != QDialog::Accepted)
        return false;
    const QStringList files = dlg.selectedFiles();
    if (files.isEmpty())
        return false;
    *file = files.first();
    return true;
}

}  // namespace strevo
