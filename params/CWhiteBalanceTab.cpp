#include "CWhiteBalanceTab.h"

#include "ui_dlg_265.h"

namespace strevo {

CWhiteBalanceTab::CWhiteBalanceTab(QWidget* parent)
    : CParamPage(kTemplateId, parent), m_ui(std::make_unique<Ui::Dlg265>()) {
    m_ui->setupUi(this);
    FinishTemplate();
}

CWhiteBalanceTab::~CWhiteBalanceTab() = default;

}  // namespace strevo
