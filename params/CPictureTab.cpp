#include "CPictureTab.h"

#include "ui_dlg_261.h"

namespace strevo {

CPictureTab::CPictureTab(QWidget* parent)
    : CParamPage(kTemplateId, parent), m_ui(std::make_unique<Ui::Dlg261>()) {
    m_ui->setupUi(this);
    FinishTemplate();
}

CPictureTab::~CPictureTab() = default;

}  // namespace strevo
