#include "CFocusTab.h"

#include "ui_dlg_267.h"

namespace strevo {

CFocusTab::CFocusTab(QWidget* parent)
    : CParamPage(kTemplateId, parent), m_ui(std::make_unique<Ui::Dlg267>()) {
    m_ui->setupUi(this);
    FinishTemplate();
}

CFocusTab::~CFocusTab() = default;

}  // namespace strevo
