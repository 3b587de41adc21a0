// Dialog templates keep their geometry in dialog units, as they were drawn.
// At run time the units are turned into pixels from the dialog font, the way
// the dialog manager of the original platform does it:
//   base x = (width of "A..Za..z" / 26 + 1) / 2   (average character width,
//            rounded to the nearest pixel),
//   base y = character height of the font,
//   pixels x = MulDiv(units x, base x, 4), pixels y = MulDiv(units y, base y, 8),
// each coordinate and extent converted on its own.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace strevo {

struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};

// a * b / c rounded to the nearest integer, halves away from zero; 64-bit
// intermediate. A zero divisor gives -1, like the platform function.
int MulDiv(int a, int b, int c);

DialogBaseUnits BaseUnitsForFont(const QFont& font);

QRect DluToPixels(const QRect& dlu, DialogBaseUnits base);
QSize DluToPixels(const QSize& dlu, DialogBaseUnits base);

// The font the templates are laid out for: a CJK-capable sans font at 9 points.
QFont DefaultDialogFont();

// Converts a template widget tree (the root carries the dynamic property
// "dialogUnits"=true) from dialog units to pixels for the given font, and gives
// the tree that font. On the first call every template control's rectangle and
// the root's size are saved as dialog units ("dluRect", "dluSize"); later calls
// re-scale from the saved values, so the function may be called again after a
// font change. Nested template roots (a page placed inside a window) are left
// alone: they are scaled on their own. For a QMainWindow the central widget is
// the client area and the menu bar comes on top of the template's height.
void ScaleDialogUnits(QWidget* root, const QFont& dialogFont);

// The control's rectangle in dialog units as drawn in its template; a null
// rectangle for widgets that did not come from a template.
QRect DialogUnitRect(const QWidget* w);
// The template's size in dialog units (invalid before the first scaling).
QSize DialogUnitSize(const QWidget* root);
// Base units used for the last scaling of this template root (0,0 before).
DialogBaseUnits TemplateBaseUnits(const QWidget* root);
// Converts a rectangle in dialog units with the base units of this template.
QRect MapDialogRect(const QWidget* root, const QRect& dlu);

// The control of the template with the given numeric id (dynamic property
// "ctrlId"), not looking into nested templates. Null when there is none.
QWidget* FindControl(QWidget* root, int ctrlId);

}  // namespace strevo
