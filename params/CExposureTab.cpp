#include "CExposureTab.h"

#include <QComboBox>
#include <array>

#include "DialogUnits.h"
#include "ui_dlg_263.h"

namespace strevo {

namespace {

constexpr int kShutterList = 1481;

// Shutter items "1/d"; each sends its exposure time in units of 10 us.
constexpr std::array<int, 42> kShutterDenominators = {
    1,   2,   4,   6,   8,   10,   12,   15,   18,   20,   25,   30,   40,   45,
    50,  55,  60,  70,  80,  90,   100,  120,  125,  150,  200,  225,  250,  300,
    350, 400, 500, 750, 900, 1000, 1200, 1500, 1800, 2000, 2500, 3000, 3500, 4000};

std::vector<std::pair<int, int>> ShutterValues() {
    std::vector<std::pair<int, int>> values;
    for (size_t i = 0; i < kShutterDenominators.size(); ++i)
        values.emplace_back(static_cast<int>(i),
                            static_cast<int>(100000.0 / kShutterDenominators[i] + 0.5));
    return values;
}

const PageLayout& Layout() {
    static const PageLayout layout{
        .rows =
            {
                {.kind = RowKind::kList,
                 .key = "eExposureMode",
                 .ctrlId = 1474,
                 .mode = "exp_mode"},
                {.key = "BExpCPS",
                 .ctrlId = 1478,
                 .boxId = 1490,
                 .labelId = 1503,
                 .min = -50,
                 .max = 50},
                // Filled in code, so nothing is selected before a record is shown;
                // a speed that is not in the list leaves the choice as it was.
                {.kind = RowKind::kList,
                 .key = "uiMShutterSpeed",
                 .ctrlId = kShutterList,
                 .labelId = 1499,
                 .initial = -1,
                 .map = {.pairs = ShutterValues(), .keepOnMiss = true}},
                {.kind = RowKind::kList,
                 .key = "ucManualIris",
                 .ctrlId = 1482,
                 .labelId = 1500,
                 .map = {.shift = -1, .pairs = {{0, 254}}}},  // "OFF", then F1.5 = 0...
                {.key = "ucManualGain",
                 .ctrlId = 1497,
                 .boxId = 1476,
                 .labelId = 1501,
                 .min = 1,
                 .max = 255},
                {.key = "ucAutoGainLimit",
                 .ctrlId = 1498,
                 .boxId = 1484,
                 .labelId = 1502,
                 .min = 1,
                 .max = 255},
                {.kind = RowKind::kList,
                 .key = "ucAEWeightLevel",
                 .ctrlId = 1483,
                 .map = {.shift = 1}},
                {.kind = RowKind::kList, .key = "eWDMode", .ctrlId = 1477, .mode = "wdr_mode"},
                {.key = "ucWDRStrength", .ctrlId = 1475, .boxId = 1489, .labelId = 1504},
                {.kind = RowKind::kList, .key = "bBacklightCompensation", .ctrlId = 1479},
                {.kind = RowKind::kList, .key = "ucAntiFlicker", .ctrlId = 1480},
            },
        // Exposure modes: 0 auto, 1 manual, 2 shutter priority, 3 iris priority;
        // other values leave the rows as they are.
        .modes =
            {
                {.selector = "exp_mode", .rowCtrlId = kShutterList, .on = {1, 2}, .off = {0, 3}},
                {.selector = "exp_mode", .rowCtrlId = 1497, .on = {1}, .off = {0, 2, 3}},
                {.selector = "exp_mode", .rowCtrlId = 1498, .on = {0, 2, 3}, .off = {1}},
                {.selector = "exp_mode", .rowCtrlId = 1482, .on = {1, 3}, .off = {0, 2}},
                {.selector = "exp_mode", .rowCtrlId = 1478, .on = {0}, .off = {1, 2, 3}},
                {.selector = "wdr_mode", .rowCtrlId = 1475, .off = {0}, .other = ModeRule::kEnable},
            },
    };
    return layout;
}

}  // namespace

CExposureTab::CExposureTab(QWidget* parent)
    : CParamPage(kTemplateId, Layout(), parent), m_ui(std::make_unique<Ui::Dlg263>()) {
    m_ui->setupUi(this);
    auto* shutter = qobject_cast<QComboBox*>(FindControl(this, kShutterList));
    for (size_t i = 0; i < kShutterDenominators.size(); ++i)
        shutter->insertItem(static_cast<int>(i),
                            QStringLiteral("1/%1").arg(kShutterDenominators[i]));
    FinishTemplate();
}

CExposureTab::~CExposureTab() = default;

}  // namespace strevo
