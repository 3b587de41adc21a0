#include "CVideoTab.h"

#include "ui_dlg_273.h"

namespace strevo {

namespace {

const PageLayout& Layout() {
    static const PageLayout layout{
        .rows =
            {
                {.kind = RowKind::kList, .key = "bHorzInvert", .ctrlId = 1486},
                {.kind = RowKind::kList, .key = "bVertInvert", .ctrlId = 1487},
                // Portrait is the rotation 3.
                {.kind = RowKind::kList,
                 .key = "ucRotation",
                 .ctrlId = 1488,
                 .map = {.pairs = {{1, 3}}}},
                // Scenes: default 1, then beauty 3, jewellery 4, clothing 5; the
                // camera's 2 is shown as the default.
                {.kind = RowKind::kList,
                 .key = "eSceneMode",
                 .ctrlId = 1489,
                 .map = {.shift = 2, .pairs = {{0, 1}}}},
            },
    };
    return layout;
}

}  // namespace

CVideoTab::CVideoTab(QWidget* parent)
    : CParamPage(kTemplateId, Layout(), parent), m_ui(std::make_unique<Ui::Dlg273>()) {
    m_ui->setupUi(this);
    FinishTemplate();
}

CVideoTab::~CVideoTab() = default;

}  // namespace strevo
