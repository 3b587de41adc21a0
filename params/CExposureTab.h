// Exposure page (template 263).
#pragma once

#include <memory>

#include "CParamPage.h"

namespace Ui {
class Dlg263;
}

namespace strevo {

class CExposureTab : public CParamPage {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 263;

    explicit CExposureTab(QWidget* parent = nullptr);
    ~CExposureTab() override;

  private:
    std::unique_ptr<Ui::Dlg263> m_ui;
};

}  // namespace strevo
