#include "CExposureTab.h"

#include "ui_dlg_263.h"

namespace strevo {

CExposureTab::CExposureTab(QWidget* parent)
    : CParamPage(kTemplateId, parent), m_ui(std::make_unique<Ui::Dlg263>()) {
    m_ui->setupUi(this);
    FinishTemplate();
}

CExposureTab::~CExposureTab() = default;

}  // namespace strevo
