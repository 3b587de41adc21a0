// Focus page (template 267).
#pragma once

#include <memory>

#include "CParamPage.h"

namespace Ui {
class Dlg267;
}

namespace strevo {

class CFocusTab : public CParamPage {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 267;
    // "刷新" beside the focus near limit.
    static constexpr int kFocusNearRefreshId = 1520;

    explicit CFocusTab(QWidget* parent = nullptr);
    ~CFocusTab() override;

  private:
    void OnRefreshFocusNear();

    std::unique_ptr<Ui::Dlg267> m_ui;
};

}  // namespace strevo
