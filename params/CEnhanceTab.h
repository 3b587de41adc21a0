// Image enhancement page (template 271).
#pragma once

#include <memory>

#include "CParamPage.h"

namespace Ui {
class Dlg271;
}

namespace strevo {

class CEnhanceTab : public CParamPage {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 271;

    explicit CEnhanceTab(QWidget* parent = nullptr);
    ~CEnhanceTab() override;

  private:
    std::unique_ptr<Ui::Dlg271> m_ui;
};

}  // namespace strevo
