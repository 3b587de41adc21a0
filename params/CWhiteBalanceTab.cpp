#include "CWhiteBalanceTab.h"

#include "ui_dlg_265.h"

namespace strevo {

namespace {

constexpr int kRedGain = 1479, kBlueGain = 1480, kColourTemp = 1481;

const PageLayout& Layout() {
    static const PageLayout layout{
        .rows =
            {
                // Manual 0, auto 1, one-push 3, indoor 4, fixed colour
                // temperature 30. A refused mode puts the previous one back.
                {.kind = RowKind::kList,
                 .key = "eWBMode",
                 .ctrlId = 1478,
                 .map = {.pairs = {{2, 3}, {3, 4}, {4, 30}}},
                 .mode = "wb_mode",
                 .revertOnFailure = true},
                {.kind = RowKind::kList, .key = "uAwbTolerance", .ctrlId = 1482},
                {.key = "ucRGGain", .ctrlId = kRedGain, .boxId = 1494, .labelId = 1505, .tick = 10},
                {.key = "ucBGGain",
                 .ctrlId = kBlueGain,
                 .boxId = 1495,
                 .labelId = 1506,
                 .tick = 10},
                // The slider moves in steps of 100 K; its box shows kelvin.
                {.key = "u32CTNum",
                 .ctrlId = kColourTemp,
                 .boxId = 1496,
                 .labelId = 1507,
                 .min = 25,
                 .max = 90,
                 .tick = 10,
                 .scale = 100,
                 .initial = 2500},
                {.key = "u8RgainTuning", .ctrlId = 1483, .boxId = 1497, .tick = 10},
                {.key = "u8GgainTuning", .ctrlId = 1484, .boxId = 1499, .tick = 10},
                {.key = "u8BgainTuning", .ctrlId = 1485, .boxId = 1498, .tick = 10},
            },
        .modes =
            {
                {.selector = "wb_mode",
                 .rowCtrlId = kRedGain,
                 .on = {0},
                 .other = ModeRule::kDisable},
                {.selector = "wb_mode",
                 .rowCtrlId = kBlueGain,
                 .on = {0},
                 .other = ModeRule::kDisable},
                {.selector = "wb_mode",
                 .rowCtrlId = kColourTemp,
                 .on = {30},
                 .other = ModeRule::kDisable},
            },
    };
    return layout;
}

}  // namespace

CWhiteBalanceTab::CWhiteBalanceTab(QWidget* parent)
    : CParamPage(kTemplateId, Layout(), parent), m_ui(std::make_unique<Ui::Dlg265>()) {
    m_ui->setupUi(this);
    FinishTemplate();
}

CWhiteBalanceTab::~CWhiteBalanceTab() = default;

}  // namespace strevo
