#include "CUpgradeDlg.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>

#include "DialogUnits.h"
#include "UsbDeviceList.h"
#include "ui_dlg_285.h"

namespace strevo {

namespace {

const QString kStartText = QStringLiteral("开始升级");
const QString kStopText = QStringLiteral("停止升级");

}  // namespace

CUpgradeDlg::CUpgradeDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::Dlg285>()), m_engine(this) {
    m_ui->setupUi(this);
    ScaleDialogUnits(this, DefaultDialogFont());
    setFixedSize(size());

    connect(m_ui->btnBrowse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(m_ui->btnStart, &QPushButton::clicked, this, [this] { OnStartStop(); });
    connect(m_ui->btnReboot, &QPushButton::clicked, this, [this] { OnReboot(); });
    // The operator's ticks go to the engine, which owns them.
    connect(m_ui->lstDevices, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() == kColNo)
            m_engine.SetTicked(UsbListIdOf(m_ui->lstDevices, item->row()),
                               item->checkState() == Qt::Checked);
    });

    m_progressTimer.setInterval(kProgressTimerMs);
    m_progressTimer.setObjectName(QStringLiteral("timer%1").arg(kProgressTimerId));
    connect(&m_progressTimer, &QTimer::timeout, this, [this] { OnProgressTimer(); });
    m_startPause.setSingleShot(true);
    m_startPause.setInterval(kStartPauseMs);
    connect(&m_startPause, &QTimer::timeout, this, [this] { m_progressTimer.start(); });
    m_closeWait.setInterval(100);
    connect(&m_closeWait, &QTimer::timeout, this, [this] { OnCloseWait(); });
}

CUpgradeDlg::~CUpgradeDlg() {
    // No worker may outlive the dialog: they report to it.
    m_engine.Shutdown();
}

QTableWidget* CUpgradeDlg::DeviceList() const {
    return m_ui->lstDevices;
}
QListWidget* CUpgradeDlg::PackageList() const {
    return m_ui->lstPackages;
}
QPushButton* CUpgradeDlg::StartButton() const {
    return m_ui->btnStart;
}
QLabel* CUpgradeDlg::StatusLine() const {
    return m_ui->lblStatus;
}
QLabel* CUpgradeDlg::NoteLine() const {
    return m_ui->lblNote;
}

void CUpgradeDlg::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        InitDialog();
    }
    QDialog::showEvent(event);
}

void CUpgradeDlg::InitDialog() {
    SetUpUsbDeviceList(m_ui->lstDevices);

    // The status and note lines' font, with fallbacks where it is missing.
    m_statusFont = font();
    m_statusFont.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                              QStringLiteral("WenQuanYi Micro Hei"),
                              QStringLiteral("Noto Sans CJK SC")});
    m_statusFont.setPointSize(10);
    m_ui->lblStatus->setFont(m_statusFont);
    m_ui->lblNote->setFont(m_statusFont);
    m_ui->lblNote->setText(QStringLiteral("PS:如果设备被拔出，请重新刷新列表."));

    // One ticked row per device, at most ten.
    FillUsbDeviceList(m_ui->lstDevices, m_devices, kMaxRows,
                      [this](const UsbDeviceEntry& e) { return m_engine.AddRow(e.handle, true); });
}

// ---------------------------------------------------------------------------
// Events from the engine

void CUpgradeDlg::OnUpgradeEvent(const UpgradeEvent& event) {
    // Any thread, engine lock held: only hand it to the GUI thread. Pending
    // calls die with the dialog.
    QMetaObject::invokeMethod(
        this, [this, event] { ApplyEvent(event); }, Qt::QueuedConnection);
}

void CUpgradeDlg::ApplyEvent(const UpgradeEvent& event) {
    QTableWidget* list = m_ui->lstDevices;
    if (event.kind == UpgradeEvent::kRebootFinished) {
        if (m_closing)
            return;
        // A camera still being upgraded was not rebooted; its row's "重启失败"
        // is soon replaced by the upgrade's progress, so it is said here.
        m_ui->lblStatus->setText(
            event.refusedBusy > 0
                ? QStringLiteral("重启失败: 设备正在升级")
                : QStringLiteral("重启成功的设备将从列表删除，稍后请重新手动刷新."));
        EnableOperations(true, true);
        return;
    }
    const int r = UsbListRowOf(list, event.row.id);
    if (r < 0)
        return;
    if (event.kind == UpgradeEvent::kRowRemoved) {
        list->removeRow(r);
        return;
    }
    ShowUsbRow(list, r, QString::fromUtf8(event.row.status), event.row.ticked);
}

// ---------------------------------------------------------------------------
// Commands

void CUpgradeDlg::EnableOperations(bool enabled, bool startStop) {
    for (QWidget* w :
         {static_cast<QWidget*>(m_ui->edtPath), static_cast<QWidget*>(m_ui->btnBrowse),
          static_cast<QWidget*>(m_ui->btnReboot), static_cast<QWidget*>(m_ui->btnRefresh)})
        w->setEnabled(enabled);
    if (startStop)
        m_ui->btnStart->setEnabled(enabled);
}

bool CUpgradeDlg::ChoosePackages(QStringList* files) {
    QFileDialog dlg(this);
    dlg.setFileMode(QFileDialog::ExistingFiles);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setNameFilter(QStringLiteral("DAT(*.dat)"));
    dlg.selectFile(QStringLiteral("*.dat"));
    if (dlg.exec() != QDialog::Accepted)
        return false;
    *files = dlg.selectedFiles();
    return true;
}

void CUpgradeDlg::OnBrowse() {
    QStringList files;
    if (!ChoosePackages(&files))
        return;
    QListWidget* packages = m_ui->lstPackages;
    packages->clear();
    std::vector<std::string> paths;
    for (const QString& f : files) {
        packages->addItem(QDir::toNativeSeparators(f));
        paths.push_back(QFile::encodeName(f).toStdString());
    }
    m_engine.SetPackagePaths(std::move(paths));
}

void CUpgradeDlg::OnStartStop() {
    if (m_ui->btnStart->text() != kStartText) {
        m_engine.Stop();  // the progress timer gives the button its text back
        return;
    }
    if (m_engine.Start() < 0)
        return;
    m_ui->btnStart->setText(kStopText);
    EnableOperations(false, false);
    // The first progress tick comes a second later, when the workers have
    // had time to take their rows.
    m_progressTimer.stop();
    m_startPause.start();
}

void CUpgradeDlg::OnProgressTimer() {
    // Stop stays on the button while any row is sending or flashing: a flash
    // that takes long must remain stoppable from here.
    if (m_engine.Upgrading())
        return;
    m_ui->btnStart->setText(kStartText);
    EnableOperations(true, false);
    m_progressTimer.stop();
}

void CUpgradeDlg::OnReboot() {
    EnableOperations(false, true);
    if (m_engine.StartReboot() < 0)
        EnableOperations(true, true);
}

// ---------------------------------------------------------------------------
// Closing

void CUpgradeDlg::done(int result) {
    if (m_engine.WorkersRunning()) {
        if (!m_closing) {
            m_closing = true;
            m_closeResult = result;
            m_engine.Stop();
            m_startPause.stop();
            m_progressTimer.stop();
            m_ui->lblStatus->setText(QStringLiteral("正在停止，请稍候..."));
            EnableOperations(false, true);
            m_closeWait.start();
        }
        return;
    }
    m_closeWait.stop();
    m_startPause.stop();
    m_progressTimer.stop();
    m_engine.Join();
    // The workers' last changes are shown before the dialog goes.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    m_closing = false;
    QDialog::done(result);
}

void CUpgradeDlg::OnCloseWait() {
    if (!m_engine.WorkersRunning())
        done(m_closeResult);
}

}  // namespace strevo
