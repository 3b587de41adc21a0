// Video adjustment (orientation and scene) page (template 273).
#pragma once

#include <memory>

#include "CParamPage.h"

namespace Ui {
class Dlg273;
}

namespace strevo {

class CVideoTab : public CParamPage {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 273;

    explicit CVideoTab(QWidget* parent = nullptr);
    ~CVideoTab() override;

  private:
    std::unique_ptr<Ui::Dlg273> m_ui;
};

}  // namespace strevo
