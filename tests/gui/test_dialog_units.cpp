// Dialog-unit conversion and re-scaling of templates.
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QSlider>
#include <QTest>
#include <climits>

#include "DialogUnits.h"
#include "ui_dlg_102.h"
#include "ui_dlg_261.h"
#include "ui_dlg_273.h"

using namespace strevo;

namespace {

// WenQuanYi Micro Hei at 12 px (9 pt at 96 dpi): the alphabet measures 344 px,
// so base x = (344 / 26 + 1) / 2 = 7, and the character height is 14 px.
QFont KnownFont() {
    QFont f(QStringLiteral("WenQuanYi Micro Hei"));
    f.setPixelSize(12);
    return f;
}

bool HaveKnownFont() {
    return QFontInfo(KnownFont()).family() == QLatin1String("WenQuanYi Micro Hei");
}

}  // namespace

class TestDialogUnits : public QObject {
    Q_OBJECT
  private slots:
    void mulDivRoundsLikeThePlatform() {
        QCOMPARE(MulDiv(3, 6, 4), 5);    // 4.5 rounds up
        QCOMPARE(MulDiv(-3, 6, 4), -5);  // and away from zero when negative
        QCOMPARE(MulDiv(3, -6, 4), -5);
        QCOMPARE(MulDiv(23, 13, 8), 37);                   // 37.375
        QCOMPARE(MulDiv(7, 7, 4), 12);                     // 12.25
        QCOMPARE(MulDiv(5, 7, -4), -9);                    // 8.75 with a negative divisor
        QCOMPARE(MulDiv(100000, 100000, 100000), 100000);  // 64-bit intermediate
        QCOMPARE(MulDiv(1, 1, 0), -1);
        QCOMPARE(MulDiv(INT_MAX, 4, 1), -1);  // overflow
    }

    void rectanglesConvertPerCoordinate() {
        const DialogBaseUnits base{7, 14};
        // Label "亮度:" at 3,23,31,8: 5.25, 40.25, 54.25, 14
        QCOMPARE(DluToPixels(QRect(3, 23, 31, 8), base), QRect(5, 40, 54, 14));
        // Slider at 34,19,100,15: 59.5, 33.25, 175, 26.25
        QCOMPARE(DluToPixels(QRect(34, 19, 100, 15), base), QRect(60, 33, 175, 26));
        QCOMPARE(DluToPixels(QSize(580, 335), base), QSize(1015, 586));
        QCOMPARE(DluToPixels(QRect(0, 0, 0, 0), base), QRect(0, 0, 0, 0));
    }

    void baseUnitsOfAKnownFont() {
        if (!HaveKnownFont())
            QSKIP("WenQuanYi Micro Hei is not installed");
        const DialogBaseUnits base = BaseUnitsForFont(KnownFont());
        QCOMPARE(base.x, 7);
        QCOMPARE(base.y, 14);
    }

    void scaledTemplateKeepsItsLayout() {
        if (!HaveKnownFont())
            QSKIP("WenQuanYi Micro Hei is not installed");
        QWidget page;
        Ui::Dlg261 ui;
        ui.setupUi(&page);
        ScaleDialogUnits(&page, KnownFont());

        QCOMPARE(page.size(), QSize(298, 207));  // 170 x 118 units
        QCOMPARE(DialogUnitSize(&page), QSize(170, 118));
        QCOMPARE(ui.sldBrightness->geometry(), QRect(60, 33, 175, 26));
        QCOMPARE(DialogUnitRect(ui.sldBrightness), QRect(34, 19, 100, 15));
        QCOMPARE(ui.lblBrightness->geometry(), QRect(5, 40, 54, 14));
        QCOMPARE(page.font().pixelSize(), 12);

        // Every row keeps label, slider and number box in order, left to right,
        // and the rows keep their order top to bottom.
        const QList<QWidget*> labels{ui.lblBrightness, ui.lblContrast, ui.lblSaturation, ui.lblHue,
                                     ui.lblSharpness};
        const QList<QWidget*> sliders{ui.sldBrightness, ui.sldContrast, ui.sldSaturation, ui.sldHue,
                                      ui.sldSharpness};
        const QList<QWidget*> boxes{ui.edtBrightness, ui.edtContrast, ui.edtSaturation, ui.edtHue,
                                    ui.edtSharpness};
        for (int i = 0; i < 5; ++i) {
            QVERIFY(labels[i]->x() < sliders[i]->x());
            QVERIFY(sliders[i]->geometry().right() < boxes[i]->x());
            QVERIFY(page.rect().contains(boxes[i]->geometry()));
            if (i > 0) {
                QVERIFY(sliders[i - 1]->y() < sliders[i]->y());
                QVERIFY(boxes[i - 1]->geometry().bottom() < boxes[i]->y());
            }
        }
    }

    void rescalingStartsFromTheSavedUnits() {
        QWidget page;
        Ui::Dlg261 ui;
        ui.setupUi(&page);
        QFont small = KnownFont();
        ScaleDialogUnits(&page, small);
        const QRect first = ui.edtContrast->geometry();
        const QSize firstSize = page.size();

        QFont big = KnownFont();
        big.setPixelSize(24);
        ScaleDialogUnits(&page, big);
        QVERIFY(ui.edtContrast->width() > first.width());
        QCOMPARE(DialogUnitRect(ui.edtContrast), QRect(140, 38, 19, 12));
        QCOMPARE(ui.edtContrast->geometry(), MapDialogRect(&page, QRect(140, 38, 19, 12)));

        ScaleDialogUnits(&page, small);
        QCOMPARE(ui.edtContrast->geometry(), first);
        QCOMPARE(page.size(), firstSize);
    }

    void nestedTemplatesAndLaterChildrenAreLeftAlone() {
        QMainWindow window;
        Ui::Dlg102 mainUi;
        mainUi.setupUi(&window);
        ScaleDialogUnits(&window, KnownFont());

        // A page scaled on its own and placed in pixels by the window.
        auto* page = new QWidget;
        Ui::Dlg273 pageUi;
        pageUi.setupUi(page);
        ScaleDialogUnits(page, KnownFont());
        page->setParent(window.centralWidget());
        page->move(300, 20);
        const QRect pageGeometry = page->geometry();
        const QRect comboGeometry = pageUi.cmbScene->geometry();

        auto* extra = new QLabel(QStringLiteral("added"), window.centralWidget());
        extra->setGeometry(10, 10, 40, 20);

        QFont big = KnownFont();
        big.setPixelSize(20);
        ScaleDialogUnits(&window, big);

        QCOMPARE(page->geometry(), pageGeometry);
        QCOMPARE(pageUi.cmbScene->geometry(), comboGeometry);
        QCOMPARE(extra->geometry(), QRect(10, 10, 40, 20));
        QCOMPARE(mainUi.treeDevices->geometry(),
                 DluToPixels(QRect(0, 0, 117, 181), BaseUnitsForFont(big)));
        // The client area is the template's size; the menu bar comes on top.
        QCOMPARE(window.width(), DluToPixels(QSize(580, 335), BaseUnitsForFont(big)).width());
        QVERIFY(window.height() > DluToPixels(QSize(580, 335), BaseUnitsForFont(big)).height());

        QCOMPARE(FindControl(&window, 1471), mainUi.treeDevices);
        QCOMPARE(FindControl(&window, 1486), nullptr);  // inside the page only
        QCOMPARE(FindControl(page, 1486), pageUi.cmbHorzInvert);
    }
};

QTEST_MAIN(TestDialogUnits)
#include "test_dialog_units.moc"
