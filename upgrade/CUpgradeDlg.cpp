#include "CUpgradeDlg.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>

#include "DialogUnits.h"
#include "StoredText.h"
#include "ui_dlg_285.h"

namespace strevo {

namespace {

const QString kStartText = QStringLiteral("开始升级");
const QString kStopText = QStringLiteral("停止升级");

// The identity texts but the name are kept as the camera sent them (UTF-8).
QString FieldText(const char* field, size_t size) {
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, size)));
}

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
            m_engine.SetTicked(item->data(Qt::UserRole).toInt(), item->checkState() == Qt::Checked);
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
    // Columns, their widths from the list's client width at this moment.
    QTableWidget* list = m_ui->lstDevices;
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setShowGrid(true);
    // Rows as compact as a report list's.
    list->verticalHeader()->setMinimumSectionSize(0);
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->setColumnCount(kColumnCount);
    const int W = list->contentsRect().width();
    const struct {
        const char* header;
        int width;
    } columns[kColumnCount] = {
        {"序号", W / 12}, {"状态", W / 6},   {"PID", 0},           {"设备名称", W / 6},
        {"型号", W / 8},  {"序列号", W / 4}, {"机芯版本", W / 10}, {"编译时间", W / 10},
    };
    QHeaderView* header = list->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setMinimumSectionSize(0);
    for (int c = 0; c < kColumnCount; ++c) {
        list->setHorizontalHeaderItem(c,
                                      new QTableWidgetItem(QString::fromUtf8(columns[c].header)));
        header->resizeSection(c, columns[c].width);
    }

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
    const QSignalBlocker block(list);
    const int rows = std::min<int>(static_cast<int>(m_devices.size()), kMaxRows);
    list->setRowCount(rows);
    for (int i = 0; i < rows; ++i) {
        const UsbDeviceEntry& e = m_devices[static_cast<size_t>(i)];
        const int id = m_engine.AddRow(e.handle, true);
        const QString texts[kColumnCount] = {
            QString::number(i + 1),
            QString(),
            QString(),
            StoredNameToDisplay(e.name),
            FieldText(e.model, sizeof e.model),
            FieldText(e.serial, sizeof e.serial),
            FieldText(e.biosVersion, sizeof e.biosVersion),
            FieldText(e.buildDate, sizeof e.buildDate),
        };
        for (int c = 0; c < kColumnCount; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (c == kColNo) {
                item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
                item->setCheckState(Qt::Checked);
                item->setData(Qt::UserRole, id);
            }
            list->setItem(i, c, item);
        }
    }
}

// ---------------------------------------------------------------------------
// Events from the engine

void CUpgradeDlg::OnUpgradeEvent(const UpgradeEvent& event) {
    // Any thread, engine lock held: only hand it to the GUI thread. Pending
    // calls die with the dialog.
    QMetaObject::invokeMethod(
        this, [this, event] { ApplyEvent(event); }, Qt::QueuedConnection);
}

int CUpgradeDlg::ListRowOf(int id) const {
    const QTableWidget* list = m_ui->lstDevices;
    for (int r = 0; r < list->rowCount(); ++r) {
        const QTableWidgetItem* item = list->item(r, kColNo);
        if (item && item->data(Qt::UserRole).toInt() == id)
            return r;
    }
    return -1;
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
    const int r = ListRowOf(event.row.id);
    if (r < 0)
        return;
    if (event.kind == UpgradeEvent::kRowRemoved) {
        list->removeRow(r);
        return;
    }
    const QSignalBlocker block(list);
    // The column is narrow for the longer texts: the whole text on hover.
    const QString status = QString::fromUtf8(event.row.status);
    list->item(r, kColStatus)->setText(status);
    list->item(r, kColStatus)->setToolTip(status);
    list->item(r, kColNo)->setCheckState(event.row.ticked ? Qt::Checked : Qt::Unchecked);
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
