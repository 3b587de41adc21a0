// The dialog templates: every control present with its id and kind, inside its
// template, list contents, and each template renders once scaled. With
// STREVO_SHOT_DIR set, the rendered templates are saved there as PNG files.
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMap>
#include <QPushButton>
#include <QSet>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "AboutDlg.h"
#include "DialogUnits.h"
#include "ui_dlg_100.h"
#include "ui_dlg_102.h"
#include "ui_dlg_256.h"
#include "ui_dlg_259.h"
#include "ui_dlg_261.h"
#include "ui_dlg_263.h"
#include "ui_dlg_265.h"
#include "ui_dlg_267.h"
#include "ui_dlg_271.h"
#include "ui_dlg_273.h"
#include "ui_dlg_284.h"

using namespace strevo;

namespace {

template <class Root, class Ui>
std::unique_ptr<QWidget> Make() {
    auto root = std::make_unique<Root>();
    Ui ui;
    ui.setupUi(root.get());
    return root;
}

struct Template {
    int number;
    std::function<std::unique_ptr<QWidget>()> make;
    // Control id -> kind: L label, B button, S slider, E number box or edit,
    // C drop-down list, T tree, X tab control.
    QMap<int, char> controls;
    QMap<int, int> listSizes;
};

QMap<int, char> Ids(char kind, std::initializer_list<int> ids, QMap<int, char> into = {}) {
    for (int id : ids) into.insert(id, kind);
    return into;
}

QList<Template> Templates() {
    QList<Template> t;
    t.append({100, Make<QDialog, Ui::Dlg100>, Ids('B', {1}), {}});
    t.append({284, Make<QDialog, Ui::Dlg284>, Ids('E', {1517}, Ids('B', {1518, 1, 2})), {}});
    t.append({256,
              Make<QWidget, Ui::Dlg256>,
              Ids('B',
                  {1238, 1239, 1240, 1241, 1242, 1243, 1244, 1245, 1246, 1247, 1248, 1249, 1250,
                   1251, 1252},
                  Ids('S', {1454}, Ids('L', {1455}))),
              {}});
    t.append({102,
              Make<QMainWindow, Ui::Dlg102>,
              Ids('L', {1445, 1453, 1454, 1455, 1511},
                  Ids('T', {1471}, Ids('B', {1512, 1514, 1516, 1517}))),
              {}});
    t.append(
        {259, Make<QDialog, Ui::Dlg259>, Ids('X', {1472}, Ids('B', {1512, 1514, 1516, 1517})), {}});
    t.append(
        {261,
         Make<QWidget, Ui::Dlg261>,
         Ids('L', {1509},
             Ids('S', {1473, 1474, 1475, 1476, 1477}, Ids('E', {1488, 1489, 1490, 1491, 1492}))),
         {}});
    t.append({263,
              Make<QWidget, Ui::Dlg263>,
              Ids('L', {1509, 1499, 1500, 1501, 1502, 1503, 1504},
                  Ids('S', {1478, 1497, 1498, 1475},
                      Ids('E', {1490, 1476, 1484, 1489},
                          Ids('C', {1474, 1481, 1482, 1483, 1477, 1479, 1480})))),
              {{1474, 4}, {1481, 0}, {1482, 12}, {1483, 4}, {1477, 2}, {1479, 2}, {1480, 3}}});
    t.append({265,
              Make<QWidget, Ui::Dlg265>,
              Ids('L', {1509, 1505, 1506, 1507},
                  Ids('S', {1479, 1480, 1481, 1483, 1484, 1485},
                      Ids('E', {1494, 1495, 1496, 1497, 1498, 1499}, Ids('C', {1478, 1482})))),
              {{1478, 5}, {1482, 3}}});
    t.append({267,
              Make<QWidget, Ui::Dlg267>,
              Ids('L', {1509},
                  Ids('C', {1480, 1481, 1482, 1483, 1484}, Ids('E', {1519}, Ids('B', {1520})))),
              {{1480, 4}, {1481, 2}, {1482, 5}, {1483, 11}, {1484, 3}}});
    t.append({271,
              Make<QWidget, Ui::Dlg271>,
              Ids('L', {1509, 1508},
                  Ids('S', {1482, 1483, 1484, 1486},
                      Ids('E', {1495, 1496, 1497, 1498}, Ids('C', {1485, 1487, 1488, 1489})))),
              {{1485, 3}, {1487, 15}, {1488, 2}, {1489, 2}}});
    t.append({273,
              Make<QWidget, Ui::Dlg273>,
              Ids('L', {1509}, Ids('C', {1486, 1487, 1488, 1489})),
              {{1486, 2}, {1487, 2}, {1488, 2}, {1489, 4}}});
    return t;
}

char KindOf(const QWidget* w) {
    if (qobject_cast<const QLabel*>(w))
        return 'L';
    if (qobject_cast<const QPushButton*>(w))
        return 'B';
    if (qobject_cast<const QSlider*>(w))
        return 'S';
    if (qobject_cast<const QComboBox*>(w))
        return 'C';
    if (qobject_cast<const QLineEdit*>(w))
        return 'E';
    if (qobject_cast<const QTreeWidget*>(w))
        return 'T';
    if (qobject_cast<const QTabWidget*>(w))
        return 'X';
    return '?';
}

QWidget* Client(QWidget* root) {
    auto* mw = qobject_cast<QMainWindow*>(root);
    return mw ? mw->centralWidget() : root;
}

QStringList Items(const QComboBox* c) {
    QStringList items;
    for (int i = 0; i < c->count(); ++i) items << c->itemText(i);
    return items;
}

}  // namespace

class TestTemplates : public QObject {
    Q_OBJECT
  private slots:
    void controlsMatchTheirTemplate() {
        for (const Template& t : Templates()) {
            const std::unique_ptr<QWidget> root = t.make();
            QVERIFY2(root->property("dialogUnits").toBool(), qPrintable(QString::number(t.number)));
            const QRect bounds(QPoint(0, 0), root->size());  // still in dialog units
            QMap<int, char> found;
            for (QObject* o : Client(root.get())->children()) {
                auto* w = qobject_cast<QWidget*>(o);
                if (!w || qobject_cast<QMenuBar*>(w))
                    continue;
                const QString where = QStringLiteral("%1/%2").arg(t.number).arg(w->objectName());
                QVERIFY2(bounds.contains(w->geometry()), qPrintable(where + " outside"));
                bool ok = false;
                const int id = w->property("ctrlId").toInt(&ok);
                if (!ok)
                    continue;
                QVERIFY2(!found.contains(id), qPrintable(where + " duplicate id"));
                found.insert(id, KindOf(w));
                if (auto* combo = qobject_cast<QComboBox*>(w)) {
                    QVERIFY2(combo->isEditable(), qPrintable(where));
                    QCOMPARE(combo->insertPolicy(), QComboBox::NoInsert);
                    QVERIFY2(t.listSizes.contains(id), qPrintable(where));
                    QCOMPARE(combo->count(), t.listSizes.value(id));
                }
            }
            QCOMPARE(found, t.controls);
        }
    }

    void listTextsAndSpecialControls() {
        QWidget exposure;
        Ui::Dlg263 e;
        e.setupUi(&exposure);
        QCOMPARE(Items(e.cmbIris).first(), QStringLiteral("OFF"));
        QCOMPARE(Items(e.cmbIris).last(), QStringLiteral("F9.6"));
        QCOMPARE(e.sldCompensation->minimum(), -50);
        QCOMPARE(e.sldGain->minimum(), 1);
        QCOMPARE(e.sldGain->maximum(), 255);
        QCOMPARE(e.lblCompensation->text(), QStringLiteral("曝光补偿值: "));

        QWidget wb;
        Ui::Dlg265 w;
        w.setupUi(&wb);
        QCOMPARE(Items(w.cmbWbMode),
                 (QStringList{QStringLiteral("手动"), QStringLiteral("自动"),
                              QStringLiteral("一次白平衡"), QStringLiteral("室内"),
                              QStringLiteral("固定色温")}));
        QCOMPARE(w.sldColorTemp->minimum(), 25);
        QCOMPARE(w.sldColorTemp->maximum(), 90);

        QWidget enhance;
        Ui::Dlg271 n;
        n.setupUi(&enhance);
        QCOMPARE(Items(n.cmbGamma).at(5), QStringLiteral("0.51"));
        QCOMPARE(Items(n.cmbGamma).last(), QStringLiteral("自定义3"));

        QWidget video;
        Ui::Dlg273 v;
        v.setupUi(&video);
        QCOMPARE(Items(v.cmbScene), (QStringList{QStringLiteral("默认"), QStringLiteral("美颜"),
                                                 QStringLiteral("珠宝"), QStringLiteral("服饰")}));

        QWidget focus;
        Ui::Dlg267 f;
        f.setupUi(&focus);
        QCOMPARE(Items(f.cmbFocusDistanceMin).at(3), QStringLiteral("75cm"));
        QCOMPARE(f.lblFocusNear->text(), QStringLiteral("聚焦近限值:"));

        QWidget ptz;
        Ui::Dlg256 p;
        p.setupUi(&ptz);
        QVERIFY(!p.btn3D->isEnabled());
        QCOMPARE(p.sldSpeed->minimum(), 1);
        QCOMPARE(p.sldSpeed->maximum(), 8);
        QCOMPARE(p.sldSpeed->value(), 5);
        QCOMPARE(p.btnUpRight->text(), QStringLiteral("↗"));

        QMainWindow mw;
        Ui::Dlg102 m;
        m.setupUi(&mw);
        QVERIFY(!m.video1->isVisibleTo(&mw) && !m.video2->isVisibleTo(&mw) &&
                !m.video3->isVisibleTo(&mw));
        QVERIFY(m.video0->isVisibleTo(&mw));
        QStringList top;
        for (QAction* a : m.menubar->actions()) top << a->text();
        QCOMPARE(top, (QStringList{QStringLiteral("通讯"), QStringLiteral("配置"),
                                   QStringLiteral("画面"), QStringLiteral("升级")}));
        QCOMPARE(m.actionUsb->property("cmdId").toInt(), 32819);
        QCOMPARE(m.menuVideo->actions().size(), 2);
    }

    void aboutBoxShowsIconAndCloses() {
        AboutDlg about;
        QCOMPARE(about.windowTitle(), QStringLiteral("关于 Tivano"));
        auto* icon = about.findChild<QLabel*>(QStringLiteral("lblIcon"));
        QVERIFY(icon && !icon->pixmap().isNull());  // the icon resources are linked in
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lblVersion"))->text(),
                 QStringLiteral("Tivano，1.0 版"));
        about.show();
        QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("btnOk")), Qt::LeftButton);
        QCOMPARE(about.result(), int(QDialog::Accepted));
        QVERIFY(!about.isVisible());
        QVERIFY(!about.findChild<QLabel*>(QStringLiteral("lblFiles")));

        // With the files in use: both named, whole, inside the box and clear
        // of the button, however long the paths are.
        const std::string cfg = "/home/操作员/" + std::string(80, 'c') + "/strevo/toolscfg.ini";
        const std::string log = "/home/操作员/.local/state/strevo/APP_LOG/";
        AboutDlg withFiles(nullptr, cfg, log);
        auto* files = withFiles.findChild<QLabel*>(QStringLiteral("lblFiles"));
        QVERIFY(files);
        QVERIFY(files->text().contains(QString::fromStdString(cfg)));
        QVERIFY(files->text().contains(QString::fromStdString(log)));
        QVERIFY(withFiles.rect().contains(files->geometry()));
        QVERIFY(files->width() >= files->sizeHint().width());
        auto* ok = withFiles.findChild<QPushButton*>(QStringLiteral("btnOk"));
        QVERIFY(!files->geometry().intersects(ok->geometry()));
        QVERIFY(withFiles.rect().contains(ok->geometry()));
        if (const QString shotDir = qEnvironmentVariable("STREVO_SHOT_DIR"); !shotDir.isEmpty())
            QVERIFY(
                withFiles.grab().save(QDir(shotDir).filePath(QStringLiteral("about_files.png"))));
    }

    void templatesRenderScaled() {
        const QString shotDir = qEnvironmentVariable("STREVO_SHOT_DIR");
        for (const Template& t : Templates()) {
            const std::unique_ptr<QWidget> root = t.make();
            ScaleDialogUnits(root.get(), DefaultDialogFont());
            const QSize expected =
                DluToPixels(DialogUnitSize(root.get()), TemplateBaseUnits(root.get()));
            QVERIFY(root->width() == expected.width());
            const QPixmap shot = root->grab();
            QVERIFY(!shot.isNull());
            if (!shotDir.isEmpty())
                QVERIFY(
                    shot.save(QDir(shotDir).filePath(QStringLiteral("dlg_%1.png").arg(t.number))));
        }
    }
};

QTEST_MAIN(TestTemplates)
#include "test_templates.moc"
