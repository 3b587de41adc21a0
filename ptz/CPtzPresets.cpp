#include "CPtzPresets.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "DialogUnits.h"
#include "OperatorMessages.h"

using strevo::PtzPreset;

CPtzPresets::CPtzPresets(QWidget* parent) : QGroupBox(QStringLiteral("预置位"), parent) {
    setFont(strevo::DefaultDialogFont());
    m_list = new QListWidget(this);
    m_call = new QPushButton(QStringLiteral("调用"), this);
    m_set = new QPushButton(QStringLiteral("设置"), this);
    m_remove = new QPushButton(QStringLiteral("删除"), this);
    m_list->setToolTip(
        QStringLiteral("Ctrl+1 … Ctrl+9 调用前九个预置位；未选中时“设置”新建一个预置位"));
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {m_call, m_set, m_remove}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 2, 4, 4);
    column->setSpacing(3);
    column->addWidget(m_list);
    column->addLayout(buttons);

    confirm = [this](const QString& question) {
        return QMessageBox::question(this, QStringLiteral("预置位"), question,
                                     QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    };
    connect(m_call, &QPushButton::clicked, this, [this] { OnCall(); });
    connect(m_set, &QPushButton::clicked, this, [this] { OnSet(); });
    connect(m_remove, &QPushButton::clicked, this, [this] { OnRemove(); });
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this] { OnCall(); });
    connect(m_list, &QListWidget::currentRowChanged, this, [this] { UpdateButtons(); });
    UpdateButtons();
}

CPtzPresets::~CPtzPresets() = default;

void CPtzPresets::SetControl(strevo::IPtzControl* control) {
    m_control = control;
    Reload();
}

void CPtzPresets::Reload() {
    const int row = m_list->currentRow();
    const std::string keep =
        row >= 0 && row < static_cast<int>(m_presets.size()) ? m_presets[row].token : std::string();
    m_presets.clear();
    bool read = true;
    if (m_control && m_control->HasPresets() && m_control->GetPresets(&m_presets) < 0) {
        m_presets.clear();
        read = false;
    }
    Fill(keep);
    // Not the operator's command: the list says so, without a message box.
    if (!read) {
        auto* item = new QListWidgetItem(QStringLiteral("读取预置位失败"), m_list);
        item->setFlags(Qt::NoItemFlags);
        item->setToolTip(QString::fromStdString(m_control->LastErrorText()));
    }
}

void CPtzPresets::Fill(const std::string& selectToken) {
    m_list->clear();
    int select = -1;
    for (size_t i = 0; i < m_presets.size(); ++i) {
        const PtzPreset& p = m_presets[i];
        const std::string& name = p.name.empty() ? p.token : p.name;
        m_list->addItem(QStringLiteral("%1  %2").arg(i + 1).arg(QString::fromStdString(name)));
        if (!selectToken.empty() && p.token == selectToken)
            select = static_cast<int>(i);
    }
    m_list->setCurrentRow(select);
    UpdateButtons();
}

void CPtzPresets::UpdateButtons() {
    const bool chosen = m_list->currentRow() >= 0;
    const bool presets = m_control && m_control->HasPresets();
    m_call->setEnabled(presets && chosen);
    m_set->setEnabled(presets);
    m_remove->setEnabled(presets && chosen);
}

void CPtzPresets::Failed(const char* what) {
    const std::string why = m_control ? m_control->LastErrorText() : std::string();
    strevo::ShowMessage("%s: %s", what, why.c_str());
}

bool CPtzPresets::CallPreset(int position) {
    if (!m_control || position < 0 || position >= static_cast<int>(m_presets.size()))
        return false;
    m_list->setCurrentRow(position);
    if (m_control->GotoPreset(m_presets[static_cast<size_t>(position)].token) < 0) {
        Failed("调用预置位失败");
        return false;
    }
    return true;
}

void CPtzPresets::OnCall() {
    CallPreset(m_list->currentRow());
}

void CPtzPresets::OnSet() {
    if (!m_control)
        return;
    const int row = m_list->currentRow();
    std::string token, name;
    if (row >= 0 && row < static_cast<int>(m_presets.size())) {
        token = m_presets[static_cast<size_t>(row)].token;
        name = m_presets[static_cast<size_t>(row)].name;
    } else {
        name = QStringLiteral("预置位%1").arg(m_presets.size() + 1).toStdString();
    }
    std::string stored;
    if (m_control->SetPreset(token, name, &stored) < 0) {
        Failed("设置预置位失败");
        return;
    }
    m_presets.clear();
    if (m_control->GetPresets(&m_presets) < 0)
        m_presets.clear();
    Fill(stored.empty() ? token : stored);
}

void CPtzPresets::OnRemove() {
    const int row = m_list->currentRow();
    if (!m_control || row < 0 || row >= static_cast<int>(m_presets.size()))
        return;
    const PtzPreset p = m_presets[static_cast<size_t>(row)];
    const QString shown = QString::fromStdString(p.name.empty() ? p.token : p.name);
    if (!confirm(QStringLiteral("确定删除预置位“%1”吗？").arg(shown)))
        return;
    if (m_control->RemovePreset(p.token) < 0) {
        Failed("删除预置位失败");
        return;
    }
    Reload();
}
