// White balance page (template 265).
#pragma once

#include <memory>

#include "CParamPage.h"

namespace Ui {
class Dlg265;
}

namespace strevo {

class CWhiteBalanceTab : public CParamPage {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 265;

    explicit CWhiteBalanceTab(QWidget* parent = nullptr);
    ~CWhiteBalanceTab() override;

  private:
    std::unique_ptr<Ui::Dlg265> m_ui;
};

}  // namespace strevo
