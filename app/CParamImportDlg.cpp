#include "CParamImportDlg.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "CDlgBrowser.h"
#include "ParamFile.h"
#include "UsbDeviceList.h"

namespace strevo {

CParamImportDlg::CParamImportDlg(QWidget* parent) : QDialog(parent), m_engine(this) {
    setWindowTitle(QStringLiteral("导入配置到多台设备"));
    auto* top = new QVBoxLayout(this);
    m_source = new QLabel(QStringLiteral("参数文件: 未选择"), this);
    m_source->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(m_source);
    m_list = new QTableWidget(this);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->setVisible(false);
    m_list->horizontalHeader()->setStretchLastSection(false);
    m_list->horizontalHeader()->setHighlightSections(false);
    m_list->setMinimumSize(640, 240);
    top->addWidget(m_list);
    m_status = new QLabel(this);
    top->addWidget(m_status);
    auto* buttons = new QHBoxLayout;
    m_browse = new QPushButton(QStringLiteral("浏览"), this);
    m_start = new QPushButton(QStringLiteral("开始导入"), this);
    m_close = new QPushButton(QStringLiteral("关闭"), this);
    for (QPushButton* b : {m_browse, m_start, m_close}) b->setAutoDefault(false);
    buttons->addWidget(m_browse);
    buttons->addStretch();
    buttons->addWidget(m_start);
    buttons->addWidget(m_close);
    top->addLayout(buttons);
    m_start->setEnabled(false);

    connect(m_browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(m_start, &QPushButton::clicked, this, [this] { OnStart(); });
    connect(m_close, &QPushButton::clicked, this, [this] { reject(); });
    connect(m_list, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() == kUsbColNo)
            m_engine.SetTicked(UsbListIdOf(m_list, item->row()),
                               item->checkState() == Qt::Checked);
    });
}

CParamImportDlg::~CParamImportDlg() {
    // No worker may outlive the dialog: they report to it.
    m_engine.Shutdown();
}

void CParamImportDlg::showEvent(QShowEvent* event) {
    if (!m_filled) {
        m_filled = true;
        layout()->activate();
        SetUpUsbDeviceList(m_list);
        FillUsbDeviceList(m_list, m_devices, kMaxRows, [this](const UsbDeviceEntry& e) {
            return m_engine.AddRow(e.handle, e.handle != m_sourceCamera);
        });
        // The source camera's row shows its tick as the engine has it.
        for (const ImportRow& row : m_engine.Rows()) {
            if (!row.ticked)
                ShowUsbRow(m_list, UsbListRowOf(m_list, row.id), QStringLiteral("参数来源"),
                           false);
        }
    }
    QDialog::showEvent(event);
}

bool CParamImportDlg::SetFile(const std::string& path) {
    VideoParam p{};
    if (LoadParamFile(path, &p) != 0)
        return false;
    m_record = p;
    m_haveRecord = true;
    m_source->setText(QStringLiteral("参数文件: %1")
                          .arg(QDir::toNativeSeparators(QFile::decodeName(path.c_str()))));
    m_start->setEnabled(true);
    return true;
}

void CParamImportDlg::SetRecord(const VideoParam& record, const QString& source,
                                UsbHandle sourceCamera) {
    m_record = record;
    m_haveRecord = true;
    m_sourceCamera = sourceCamera;
    m_source->setText(QStringLiteral("参数来源: %1").arg(source));
    m_browse->hide();
    m_start->setEnabled(true);
    setWindowTitle(QStringLiteral("复制当前设备参数到多台设备"));
}

bool CParamImportDlg::ChooseFile(std::string* path) {
    CDlgBrowser dlg(this);
    dlg.m_bFolderMode = false;
    if (dlg.exec() != QDialog::Accepted)
        return false;
    *path = QFile::encodeName(dlg.m_strPath).toStdString();
    return true;
}

void CParamImportDlg::OnBrowse() {
    std::string path;
    if (ChooseFile(&path))
        SetFile(path);
}

void CParamImportDlg::Busy(bool busy) {
    m_browse->setEnabled(!busy);
    m_start->setEnabled(!busy && m_haveRecord);
    m_list->setEnabled(!busy);
}

void CParamImportDlg::OnStart() {
    if (!m_haveRecord)
        return;
    if (m_engine.Start(m_record) < 0) {
        m_status->setText(QStringLiteral("没有选中的设备"));
        return;
    }
    m_status->setText(QStringLiteral("正在导入..."));
    Busy(true);
}

void CParamImportDlg::OnImportEvent(const ImportEvent& event) {
    // Any thread, engine lock held: only hand it to the GUI thread. Pending
    // calls die with the dialog.
    QMetaObject::invokeMethod(
        this, [this, event] { ApplyEvent(event); }, Qt::QueuedConnection);
}

void CParamImportDlg::ApplyEvent(const ImportEvent& event) {
    if (event.kind == ImportEvent::kRunFinished) {
        m_status->setText(event.failed == 0
                              ? QStringLiteral("导入完成: %1 台设备成功").arg(event.written)
                              : QStringLiteral("导入完成: %1 台成功, %2 台失败")
                                    .arg(event.written)
                                    .arg(event.failed));
        Busy(false);
        if (m_closeRequested)
            done(m_closeResult);
        return;
    }
    const int r = UsbListRowOf(m_list, event.row.id);
    if (r >= 0)
        ShowUsbRow(m_list, r, QString::fromUtf8(event.row.status), event.row.ticked);
}

void CParamImportDlg::done(int result) {
    if (m_engine.Running()) {
        m_closeRequested = true;
        m_closeResult = result;
        m_status->setText(QStringLiteral("正在导入，请稍候..."));
        return;
    }
    m_engine.Join();
    // The workers' last changes are shown before the dialog goes.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    m_closeRequested = false;
    QDialog::done(result);
}

}  // namespace strevo
