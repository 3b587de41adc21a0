#include "CVideoTab.h"

#include "ui_dlg_273.h"

namespace strevo {

CVideoTab::CVideoTab(QWidget* parent)
    : CParamPage(kTemplateId, parent), m_ui(std::make_unique<Ui::Dlg273>()) {
    m_ui->setupUi(this);
    FinishTemplate();
}

CVideoTab::~CVideoTab() = default;

}  // namespace strevo
