#include "CEnhanceTab.h"

#include "ui_dlg_271.h"

namespace strevo {

namespace {

constexpr int kDefogLevel = 1486;

const PageLayout& Layout() {
    static const PageLayout layout{
        .rows =
            {
                {.key = "uc2DNR", .ctrlId = 1482, .boxId = 1495},
                {.key = "uc3DNR", .ctrlId = 1483, .boxId = 1496},
                {.key = "uDpSlope", .ctrlId = 1484, .boxId = 1497},
                {.kind = RowKind::kList,
                 .key = "ucDefogMode",
                 .ctrlId = 1485,
                 .mode = "defog_mode"},
                {.key = "ucDelFogClass", .ctrlId = kDefogLevel, .boxId = 1498, .labelId = 1508},
                {.kind = RowKind::kList, .key = "ucGammaVal", .ctrlId = 1487},
                {.kind = RowKind::kList, .key = "u32AIAe", .ctrlId = 1488},
                {.kind = RowKind::kList, .key = "u32AIFocus", .ctrlId = 1489},
            },
        // The level applies to manual defog only.
        .modes = {{.selector = "defog_mode",
                   .rowCtrlId = kDefogLevel,
                   .on = {2},
                   .other = ModeRule::kDisable}},
    };
    return layout;
}

}  // namespace

CEnhanceTab::CEnhanceTab(QWidget* parent)
    : CParamPage(kTemplateId, Layout(), parent), m_ui(std::make_unique<Ui::Dlg271>()) {
    m_ui->setupUi(this);
    FinishTemplate();
}

CEnhanceTab::~CEnhanceTab() = default;

}  // namespace strevo
