// Picture adjustment page (template 261).
#pragma once

#include <memory>

#include "CParamPage.h"

namespace Ui {
class Dlg261;
}

namespace strevo {

class CPictureTab : public CParamPage {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 261;

    explicit CPictureTab(QWidget* parent = nullptr);
    ~CPictureTab() override;

  private:
    std::unique_ptr<Ui::Dlg261> m_ui;
};

}  // namespace strevo
