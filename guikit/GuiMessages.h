// Operator messages as modal message boxes with an OK button, owned by the
// main window. Messages raised on other threads are shown on the GUI thread
// and the caller waits until the operator has acknowledged them.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "OperatorMessages.h"

namespace strevo {

class GuiMessages final : public QObject, public IOperatorMessages {
    Q_OBJECT
  public:
    GuiMessages();
    ~GuiMessages() override;

    // Installs this sink for the process; the destructor puts the previous one back.
    void Install();
    void SetOwner(QWidget* owner) { m_owner = owner; }

    void Show(const std::string& text) override;

  private:
    void ShowOnGuiThread(const QString& text);

    QPointer<QWidget> m_owner;
    IOperatorMessages* m_previous = nullptr;
    bool m_installed = false;
};

}  // namespace strevo
