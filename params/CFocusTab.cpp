#include "CFocusTab.h"

#include <QPushButton>

#include "DialogUnits.h"
#include "ui_dlg_267.h"

namespace strevo {

namespace {

constexpr int kFocusNearBox = 1519;

const PageLayout& Layout() {
    static const PageLayout layout{
        .rows =
            {
                {.kind = RowKind::kList, .key = "ucFocusMode", .ctrlId = 1480},
                {.kind = RowKind::kList, .key = "ucAFScene", .ctrlId = 1481},
                {.kind = RowKind::kList, .key = "ucAFArea", .ctrlId = 1482},
                {.kind = RowKind::kList, .key = "ucFocusDistanceMin", .ctrlId = 1483},
                {.kind = RowKind::kList, .key = "ucAFSen", .ctrlId = 1484},
                // The camera's focus near limit in mm, read by the button; never sent.
                {.kind = RowKind::kShowBox, .boxId = kFocusNearBox},
            },
    };
    return layout;
}

}  // namespace

CFocusTab::CFocusTab(QWidget* parent)
    : CParamPage(kTemplateId, Layout(), parent), m_ui(std::make_unique<Ui::Dlg267>()) {
    m_ui->setupUi(this);
    FinishTemplate();
    connect(qobject_cast<QPushButton*>(FindControl(this, kFocusNearRefreshId)), &QPushButton::clicked,
            this, &CFocusTab::OnRefreshFocusNear);
}

CFocusTab::~CFocusTab() = default;

void CFocusTab::OnRefreshFocusNear() {
    const int32_t nearMm = Host() ? Host()->GetFocusNear() : 0;
    if (nearMm < 0)
        return;  // a transport failure has been reported; an incomplete answer is not
    SetBoxValue(kFocusNearBox, nearMm);
    WriteControls();
}

}  // namespace strevo
