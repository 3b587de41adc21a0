#include "CImageParamsDlg.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QTabWidget>

#include "CEnhanceTab.h"
#include "CExposureTab.h"
#include "CFocusTab.h"
#include "CParamPage.h"
#include "CPictureTab.h"
#include "CVideoTab.h"
#include "CWhiteBalanceTab.h"
#include "DialogUnits.h"
#include "OperatorMessages.h"
#include "ParamButtons.h"
#include "VideoParam.h"
#include "ui_dlg_259.h"

namespace strevo {

CImageParamsDlg::CImageParamsDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::Dlg259>()) {
    m_ui->setupUi(this);
    ScaleDialogUnits(this, DefaultDialogFont());
    connect(m_ui->btnRestoreDefault, &QPushButton::clicked, this, [this] { OnRestoreDefault(); });
    connect(m_ui->btnExport, &QPushButton::clicked, this, [this] { OnExport(); });
    connect(m_ui->btnImport, &QPushButton::clicked, this, [this] { OnImport(); });
    connect(m_ui->btnRefresh, &QPushButton::clicked, this, [this] { OnRefresh(); });
}

CImageParamsDlg::~CImageParamsDlg() = default;

QTabWidget* CImageParamsDlg::Tabs() const {
    return m_ui->tabPages;
}
QPushButton* CImageParamsDlg::RestoreButton() const {
    return m_ui->btnRestoreDefault;
}
QPushButton* CImageParamsDlg::ExportButton() const {
    return m_ui->btnExport;
}
QPushButton* CImageParamsDlg::ImportButton() const {
    return m_ui->btnImport;
}
QPushButton* CImageParamsDlg::RefreshButton() const {
    return m_ui->btnRefresh;
}

void CImageParamsDlg::SetDeviceHandle(int32_t loginHandle) {
    m_channel.SetDeviceHandle(loginHandle);
}

void CImageParamsDlg::SetChannel(IParamChannel* channel) {
    m_other = channel;
}

int CImageParamsDlg::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CImageParamsDlg::done(int result) {
    for (CParamPage* page : m_pages)
        if (page)
            page->CommitEdit();
    QDialog::done(result);
}

void CImageParamsDlg::showEvent(QShowEvent* event) {
    OnInitDialog();
    QDialog::showEvent(event);
}

void CImageParamsDlg::OnInitDialog() {
    if (m_bInitialised)
        return;
    m_bInitialised = true;

    // The pages live on the tab control, which shows the chosen one and
    // places it; in this dialog their titles are hidden.
    QTabWidget* tabs = Tabs();
    static const char* const kLabels[kPageCount] = {"图像调节", "曝光参数", "白平衡",
                                                    "聚焦",     "图像增强", "视频调整"};
    m_pages = {new CPictureTab(tabs), new CExposureTab(tabs), new CWhiteBalanceTab(tabs),
               new CFocusTab(tabs),   new CEnhanceTab(tabs),  new CVideoTab(tabs)};
    for (int i = 0; i < kPageCount; ++i) {
        CParamPage* page = m_pages[static_cast<size_t>(i)];
        page->SetHost(this, false);
        tabs->addTab(page, QString::fromUtf8(kLabels[i]));
    }
    FitPages();
    tabs->setCurrentIndex(kPicture);

    VideoParam p{};
    const int32_t rc = GetVideoParam(&p);
    if (rc == 0) {
        ShowAllPages(p);
    } else if (Channel().LastReadAnswered()) {
        // The channel reports a failed call; a camera that answered without a
        // record (a refusal, a broken answer) is reported here, as "刷新" does.
        ShowMessage("获取图像参数失败: %d.", rc);
    }
    // The dialog opens either way; the operator may press "刷新".

    // What the camera has is known once it has been read.
    if (m_other) {
        IParamChannel* channel = m_other;
        for (CParamPage* page : m_pages)
            page->DisableRowsWithout([channel](const char* key) { return channel->HasSetting(key); });
        RestoreButton()->setEnabled(channel->HasDefaults());
        if (QWidget* focusNear = FindControl(Page(kFocus), CFocusTab::kFocusNearRefreshId))
            focusNear->setEnabled(channel->HasFocusNear());
    }
}

// The tab control grows until the largest page fits whole (with the program's
// font the pages need more room than the template gives); the buttons keep
// their place below it and the dialog grows with it.
void CImageParamsDlg::FitPages() {
    for (CParamPage* page : m_pages) page->setMinimumSize(page->size());
    QTabWidget* tabs = Tabs();
    const QSize grow = (tabs->minimumSizeHint() - tabs->size()).expandedTo(QSize(0, 0));
    tabs->resize(tabs->size() + grow);
    for (QPushButton* b : {ImportButton(), ExportButton(), RefreshButton(), RestoreButton()})
        b->move(b->pos() + QPoint(grow.width(), grow.height()));
    setFixedSize(size() + grow);
}

void CImageParamsDlg::ShowAllPages(const VideoParam& param) {
    for (int i : {kPicture, kExposure, kWhiteBalance, kFocus, kEnhance, kVideo})
        if (CParamPage* page = Page(i))
            page->ShowParams(param);
}

// ---------------------------------------------------------------------------
// Network commands

int32_t CImageParamsDlg::GetVideoParam(VideoParam* param) {
    return Channel().GetVideoParam(param);
}

int32_t CImageParamsDlg::SetVideoParam(const VideoParam* param) {
    return Channel().SetVideoParam(param);
}

int32_t CImageParamsDlg::SetVideoParamItem(const char* items) {
    return Channel().SetVideoParamItem(items);
}

int32_t CImageParamsDlg::GetFocusNear() {
    return Channel().GetFocusNear();
}

int32_t CImageParamsDlg::SetDefaultParam() {
    return Channel().SetDefaultParam();
}

// ---------------------------------------------------------------------------
// Buttons

ParamButtonTarget CImageParamsDlg::Target() {
    ParamButtonTarget t;
    t.camera.getVideoParam = [this](VideoParam* p) { return GetVideoParam(p); };
    t.camera.setVideoParam = [this](const VideoParam* p) { return SetVideoParam(p); };
    t.camera.show = [this](const VideoParam& p) { ShowAllPages(p); };
    t.setDefaultParam = [this] { return SetDefaultParam(); };
    return t;
}

void CImageParamsDlg::OnRestoreDefault() {
    RestoreDefaultParams(this, Target());
}

void CImageParamsDlg::OnExport() {
    ExportParamsToFile(this, Target().camera);
}

void CImageParamsDlg::OnImport() {
    ImportParamsFromFile(this, Target().camera);
}

void CImageParamsDlg::OnRefresh() {
    RereadParams(Target().camera);
}

// ---------------------------------------------------------------------------
// Keys

void CImageParamsDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Never closes the dialog or presses a button; the pages' number
            // boxes take Enter themselves.
            event->accept();
            return;
        case Qt::Key_Escape:
            // Cancels only from the dialog's own controls, not inside a page.
            if (QWidget* focus = focusWidget()) {
                for (CParamPage* page : m_pages) {
                    if (page && page->isAncestorOf(focus)) {
                        event->accept();
                        return;
                    }
                }
            }
            break;
        default:
            break;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace strevo
