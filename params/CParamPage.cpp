#include "CParamPage.h"

#include <QLabel>

#include "DialogUnits.h"

namespace strevo {

CParamPage::CParamPage(int templateId, QWidget* parent)
    : QWidget(parent), m_templateId(templateId) {}

void CParamPage::FinishTemplate() {
    ScaleDialogUnits(this, DefaultDialogFont());
    if (QWidget* title = FindControl(this, kTitleLabelId)) {
        QFont f = title->font();
        f.setFamilies({QStringLiteral("黑体"), QStringLiteral("SimHei"),
                       QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
        f.setPointSize(18);
        title->setFont(f);
    }
}

void CParamPage::SetHost(IParamHost* host, bool mainWindow) {
    m_pHost = host;
    m_bMainWnd = mainWindow;
    if (QWidget* title = FindControl(this, kTitleLabelId))
        title->setVisible(mainWindow);
}

void CParamPage::ShowParams(const VideoParam&) {}

}  // namespace strevo
