#include "GuiMessages.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace strevo {

GuiMessages::GuiMessages() = default;

GuiMessages::~GuiMessages() {
    if (m_installed)
        SetOperatorMessages(m_previous);
}

void GuiMessages::Install() {
    if (m_installed)
        return;
    m_previous = SetOperatorMessages(this);
    m_installed = true;
}

void GuiMessages::Show(const std::string& text) {
    const QString qtext = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (QThread::currentThread() == thread()) {
        ShowOnGuiThread(qtext);
        return;
    }
    // Worker threads (upgrade, reboot) wait for the operator like the GUI
    // thread does; the box itself must live on the GUI thread.
    QMetaObject::invokeMethod(
        this, [this, qtext] { ShowOnGuiThread(qtext); }, Qt::BlockingQueuedConnection);
}

void GuiMessages::ShowOnGuiThread(const QString& text) {
    QWidget* owner = m_owner ? m_owner.data() : QApplication::activeWindow();
    QMessageBox box(QMessageBox::NoIcon, owner ? owner->windowTitle() : QStringLiteral("Strevo"),
                    text, QMessageBox::Ok, owner);
    box.exec();
}

}  // namespace strevo
