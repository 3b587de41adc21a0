#include "CPictureTab.h"

#include "ui_dlg_261.h"

namespace strevo {

namespace {

// Five sliders, 0 to 100. The key "Hue" carries sharpness; hue is "ucHue".
const PageLayout& Layout() {
    static const PageLayout layout{
        .rows =
            {
                {.key = "Luminance", .ctrlId = 1473, .boxId = 1488},
                {.key = "Contrast", .ctrlId = 1474, .boxId = 1489},
                {.key = "Saturation", .ctrlId = 1475, .boxId = 1490},
                {.key = "ucHue", .ctrlId = 1476, .boxId = 1491},
                {.key = "Hue", .ctrlId = 1477, .boxId = 1492},
            },
        .moveBeforeWrite = true,
    };
    return layout;
}

}  // namespace

CPictureTab::CPictureTab(QWidget* parent)
    : CParamPage(kTemplateId, Layout(), parent), m_ui(std::make_unique<Ui::Dlg261>()) {
    m_ui->setupUi(this);
    FinishTemplate();
}

CPictureTab::~CPictureTab() = default;

}  // namespace strevo
