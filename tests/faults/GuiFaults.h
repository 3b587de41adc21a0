// What the fault tests of the windows share: the operator's actions on
// dialogs, files, and one timed action with what it showed.
#pragma once

#include <QApplication>
#include <QFile>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "CDlgBrowser.h"
#include "DialogUnits.h"
#include "Matrix.h"
#include "MessageRecorder.h"
#include "UsbSim.h"

namespace faults {

inline camsim::UsbFaultSetting Fault(const char* text) {
    camsim::UsbFaultSetting f;
    camsim::ParseUsbFault(text, &f);
    return f;
}

inline std::string Joined(const std::vector<std::string>& texts) {
    std::string out;
    for (const auto& t : texts) out += (out.empty() ? "" : " / ") + ("\"" + t + "\"");
    return out.empty() ? "nothing shown" : out;
}

inline QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Answers the path dialog with a typed path and OK.
inline std::function<void(strevo::CDlgBrowser*)> TypePath(const QString& path) {
    return [path](strevo::CDlgBrowser* dlg) {
        qobject_cast<QLineEdit*>(strevo::FindControl(dlg, 1517))->setText(path);
        qobject_cast<QPushButton*>(strevo::FindControl(dlg, 1))->click();
    };
}

// A number typed into a page's box, which is then left: the page sends it.
inline void TypeAndLeave(QLineEdit* box, int value) {
    box->setText(QString::number(value));
    QFocusEvent left(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(box, &left);
}

// Runs one operator action, records what it showed and how long it took;
// fails when it took the bound or longer.
template <class Action>
std::string Timed(MessageRecorder& messages, const std::string& fault, const std::string& part,
                  Action act, double bound) {
    messages.texts.clear();
    const auto t0 = Clock::now();
    act();
    const double took = SecondsSince(t0);
    const std::string seen = Joined(messages.texts);
    Row(fault, part, seen, took);
    if (took >= bound)
        QTest::qFail(
            qPrintable(QStringLiteral("%1 / %2 took %3 s")
                           .arg(QString::fromStdString(fault), QString::fromStdString(part))
                           .arg(took)),
            __FILE__, __LINE__);
    return seen;
}

// What each fault test of the windows keeps: the messages shown, a folder
// for files, and its actions' usual bound.
class WindowFaults : public QObject {
  protected:
    explicit WindowFaults(double bound) : m_bound(bound) {}

    template <class Action>
    std::string Timed(const std::string& fault, const std::string& part, Action act,
                      double bound = 0) {
        return faults::Timed(m_messages, fault, part, act, bound > 0 ? bound : m_bound);
    }

    MessageRecorder m_messages;
    QTemporaryDir m_files;
    double m_bound;
};

}  // namespace faults
