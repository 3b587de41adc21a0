// Operator messages in the GUI: a modal box with OK, also when the message
// comes from a worker thread, which waits until the operator has answered.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "GuiMessages.h"

using namespace strevo;

namespace {

QMessageBox* OpenBox() {
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

}  // namespace

class TestGuiMessages : public QObject {
    Q_OBJECT
  private slots:
    void boxOnGuiThread() {
        GuiMessages sink;
        sink.Install();
        QString seen;
        QTimer::singleShot(0, [&] {
            QMessageBox* box = OpenBox();
            QVERIFY(box);
            seen = box->text();
            QCOMPARE(box->buttons().size(), 1);
            QCOMPARE(box->standardButton(box->buttons().first()), QMessageBox::Ok);
            box->button(QMessageBox::Ok)->click();
        });
        ShowMessage("返回错误码: %d", -302);
        QCOMPARE(seen, QStringLiteral("返回错误码: -302"));
    }

    void workerWaitsForTheOperator() {
        GuiMessages sink;
        sink.Install();
        std::atomic<bool> returned{false};
        QString seen;
        bool waited = false;
        // The box runs its own loop inside the event processing of the wait
        // below, so it is answered from a timer.
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, [&] {
            QMessageBox* box = OpenBox();
            if (!box)
                return;
            poll.stop();
            seen = box->text();
            QTimer::singleShot(100, box, [&, box] {
                waited = !returned;
                box->button(QMessageBox::Ok)->click();
            });
        });
        poll.start();
        std::thread worker([&] {
            ShowMessage("升级失败 %d", 3);
            returned = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(returned.load(), 10000);
        worker.join();
        QCOMPARE(seen, QStringLiteral("升级失败 3"));
        QVERIFY(waited);
    }

    // Uninstalling puts the previous sink back.
    void restoresPreviousSink() {
        IOperatorMessages* before = SetOperatorMessages(nullptr);
        SetOperatorMessages(before);
        {
            GuiMessages sink;
            sink.Install();
        }
        IOperatorMessages* after = SetOperatorMessages(before);
        QCOMPARE(after, before);
    }
};

QTEST_MAIN(TestGuiMessages)
#include "test_gui_messages.moc"
