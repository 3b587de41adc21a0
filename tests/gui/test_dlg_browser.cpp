// The path dialog's rules: path composition in both modes, cancelling the
// browser, typed paths, OK and Cancel.
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "CDlgBrowser.h"

using namespace strevo;

namespace {

// Answers the browsers from the test instead of the operator.
class ScriptedBrowser : public CDlgBrowser {
  public:
    bool answer = false;
    QString picked;
    int asked = 0;

  protected:
    bool ChooseFolder(QString* folder) override {
        ++asked;
        *folder = picked;
        return answer;
    }
    bool ChooseFile(QString* file) override {
        ++asked;
        *file = picked;
        return answer;
    }
};

QString Native(const QString& p) {
    return QDir::toNativeSeparators(p);
}

}  // namespace

class TestDlgBrowser : public QObject {
    Q_OBJECT
  private slots:
    void composesPaths() {
        const QString sep = QDir::separator();
        QCOMPARE(CDlgBrowser::FolderModePath(true, QStringLiteral("/home/op/params")),
                 Native(QStringLiteral("/home/op/params/video_params.dat")));
        // Cancelled browser: relative to the current directory.
        QCOMPARE(CDlgBrowser::FolderModePath(false, QStringLiteral("/ignored")),
                 QStringLiteral(".") + sep + QStringLiteral("video_params.dat"));
        // A folder without a file-system path.
        QCOMPARE(CDlgBrowser::FolderModePath(true, QString()),
                 sep + QStringLiteral("video_params.dat"));
        // A root already ends with the separator.
        QCOMPARE(CDlgBrowser::FolderModePath(true, QDir::rootPath()),
                 Native(QDir::rootPath()) + QStringLiteral("video_params.dat"));
        QCOMPARE(CDlgBrowser::FileModePath(true, QStringLiteral("/a/b c.dat")),
                 Native(QStringLiteral("/a/b c.dat")));
        QCOMPARE(CDlgBrowser::FileModePath(false, QStringLiteral("/a/b.dat")), QString());
    }

    void browseFillsTheEditAndOkReturnsIt() {
        ScriptedBrowser dlg;
        dlg.show();
        auto* edit = dlg.findChild<QLineEdit*>(QStringLiteral("edtPath"));
        auto* browse = dlg.findChild<QPushButton*>(QStringLiteral("btnBrowse"));
        QVERIFY(edit && browse);

        // Folder mode, browser cancelled.
        QTest::mouseClick(browse, Qt::LeftButton);
        QCOMPARE(dlg.asked, 1);
        const QString cancelled = QStringLiteral(".") + QDir::separator() + "video_params.dat";
        QCOMPARE(edit->text(), cancelled);

        // Folder chosen.
        dlg.answer = true;
        dlg.picked = QStringLiteral("/srv/cams");
        QTest::mouseClick(browse, Qt::LeftButton);
        QCOMPARE(edit->text(), Native(QStringLiteral("/srv/cams/video_params.dat")));
        dlg.accept();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.m_strPath, Native(QStringLiteral("/srv/cams/video_params.dat")));
    }

    void fileModeCancelClearsThePath() {
        ScriptedBrowser dlg;
        dlg.m_bFolderMode = false;
        dlg.m_strPath = QStringLiteral("/old/path.dat");
        dlg.show();
        auto* edit = dlg.findChild<QLineEdit*>(QStringLiteral("edtPath"));
        QCOMPARE(edit->text(), QStringLiteral("/old/path.dat"));  // shown on open

        dlg.answer = true;
        dlg.picked = QStringLiteral("/data/video_params.dat");
        dlg.OnBrowse();
        QCOMPARE(edit->text(), Native(QStringLiteral("/data/video_params.dat")));

        dlg.answer = false;
        dlg.OnBrowse();
        QCOMPARE(edit->text(), QString());
        dlg.accept();
        QCOMPARE(dlg.m_strPath, QString());
    }

    void typedPathIsUsedAsTyped() {
        for (bool folderMode : {true, false}) {
            ScriptedBrowser dlg;
            dlg.m_bFolderMode = folderMode;
            dlg.show();
            auto* edit = dlg.findChild<QLineEdit*>(QStringLiteral("edtPath"));
            edit->setFocus();
            QTest::keyClicks(edit, QStringLiteral(" relative dir/"));
            edit->insert(QStringLiteral("参数"));  // typed through an input method
            QTest::keyClicks(edit, QStringLiteral(" file.bin "));
            const QString typed = QStringLiteral(" relative dir/参数 file.bin ");
            QTest::keyClick(edit, Qt::Key_Return);  // the default button is OK
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            QCOMPARE(dlg.m_strPath, typed);
            QCOMPARE(dlg.asked, 0);
        }
    }

    void cancelKeepsThePathUntaken() {
        ScriptedBrowser dlg;
        dlg.m_strPath = QStringLiteral("before");
        dlg.show();
        auto* edit = dlg.findChild<QLineEdit*>(QStringLiteral("edtPath"));
        edit->setText(QStringLiteral("edited"));
        QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(dlg.m_strPath, QStringLiteral("before"));
    }
};

QTEST_MAIN(TestDlgBrowser)
#include "test_dlg_browser.moc"
