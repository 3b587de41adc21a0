#include "CEnhanceTab.h"

#include "ui_dlg_271.h"

namespace strevo {

CEnhanceTab::CEnhanceTab(QWidget* parent)
    : CParamPage(kTemplateId, parent), m_ui(std::make_unique<Ui::Dlg271>()) {
    m_ui->setupUi(this);
    FinishTemplate();
}

CEnhanceTab::~CEnhanceTab() = default;

}  // namespace strevo
