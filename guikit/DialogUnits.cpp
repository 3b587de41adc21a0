#include "DialogUnits.h"

#include <QFontMetrics>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QVariant>
#include <QWidget>
#include <cstdint>

namespace strevo {

namespace {

constexpr char kDialogUnits[] = "dialogUnits";
constexpr char kDluRect[] = "dluRect";
constexpr char kDluSize[] = "dluSize";
constexpr char kBaseX[] = "dluBaseX";
constexpr char kBaseY[] = "dluBaseY";

bool IsTemplateRoot(const QWidget* w) {
    return w->property(kDialogUnits).toBool();
}

// The widget whose children are the template's controls.
QWidget* ClientOf(QWidget* root) {
    if (auto* mw = qobject_cast<QMainWindow*>(root); mw && mw->centralWidget())
        return mw->centralWidget();
    return root;
}

// Children that belong to the template, not to the toolkit's own furniture.
bool IsTemplateControl(const QWidget* w) {
    if (w->isWindow() || qobject_cast<const QMenuBar*>(w) || qobject_cast<const QMenu*>(w) ||
        qobject_cast<const QStatusBar*>(w) || qobject_cast<const QToolBar*>(w))
        return false;
    return !w->objectName().startsWith(QLatin1String("qt_"));
}

// Plain containers hold further template controls; composite controls
// (combo boxes, trees, tab widgets...) manage their own insides.
bool IsPlainContainer(const QWidget* w) {
    const char* cls = w->metaObject()->className();
    return qstrcmp(cls, "QWidget") == 0 || qstrcmp(cls, "QFrame") == 0 ||
           qstrcmp(cls, "QGroupBox") == 0;
}

void ScaleChildren(QWidget* parent, DialogBaseUnits base, bool capture) {
    for (QObject* o : parent->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w || !IsTemplateControl(w) || IsTemplateRoot(w))
            continue;
        QVariant saved = w->property(kDluRect);
        if (!saved.isValid()) {
            if (!capture)
                continue;  // added by code after the template was scaled
            saved = w->geometry();
            w->setProperty(kDluRect, saved);
        }
        w->setGeometry(DluToPixels(saved.toRect(), base));
        if (IsPlainContainer(w))
            ScaleChildren(w, base, capture);
    }
}

}  // namespace

int MulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    const int64_t p = static_cast<int64_t>(a) * b;
    const bool neg = (p < 0) != (c < 0);
    const int64_t ap = p < 0 ? -p : p;
    const int64_t ac = c < 0 ? -static_cast<int64_t>(c) : c;
    const int64_t q = (ap + ac / 2) / ac;
    if (q > INT32_MAX)
        return -1;
    return static_cast<int>(neg ? -q : q);
}

DialogBaseUnits BaseUnitsForFont(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(width / 26 + 1) / 2, fm.height()};
}

QRect DluToPixels(const QRect& dlu, DialogBaseUnits base) {
    return QRect(MulDiv(dlu.x(), base.x, 4), MulDiv(dlu.y(), base.y, 8),
                 MulDiv(dlu.width(), base.x, 4), MulDiv(dlu.height(), base.y, 8));
}

QSize DluToPixels(const QSize& dlu, DialogBaseUnits base) {
    return QSize(MulDiv(dlu.width(), base.x, 4), MulDiv(dlu.height(), base.y, 8));
}

QFont DefaultDialogFont() {
    QFont f;
    f.setFamilies({QStringLiteral("Microsoft YaHei"), QStringLiteral("WenQuanYi Micro Hei"),
                   QStringLiteral("Noto Sans CJK SC"), QStringLiteral("SimSun")});
    f.setPointSize(9);
    return f;
}

void ScaleDialogUnits(QWidget* root, const QFont& dialogFont) {
    if (!root)
        return;
    root->setProperty(kDialogUnits, true);
    const bool capture = !root->property(kDluSize).isValid();
    QWidget* client = ClientOf(root);
    if (capture)
        root->setProperty(kDluSize, root->size());

    root->setFont(dialogFont);
    const DialogBaseUnits base = BaseUnitsForFont(dialogFont);
    root->setProperty(kBaseX, base.x);
    root->setProperty(kBaseY, base.y);

    ScaleChildren(client, base, capture);

    QSize px = DluToPixels(root->property(kDluSize).toSize(), base);
    if (auto* mw = qobject_cast<QMainWindow*>(root); mw && mw->menuWidget())
        px.rheight() += mw->menuWidget()->sizeHint().height();
    root->resize(px);
}

QRect DialogUnitRect(const QWidget* w) {
    return w ? w->property(kDluRect).toRect() : QRect();
}

QSize DialogUnitSize(const QWidget* root) {
    return root ? root->property(kDluSize).toSize() : QSize();
}

DialogBaseUnits TemplateBaseUnits(const QWidget* root) {
    if (!root)
        return {};
    return {root->property(kBaseX).toInt(), root->property(kBaseY).toInt()};
}

QRect MapDialogRect(const QWidget* root, const QRect& dlu) {
    return DluToPixels(dlu, TemplateBaseUnits(root));
}

QWidget* FindControl(QWidget* root, int ctrlId) {
    if (!root)
        return nullptr;
    QWidget* client = ClientOf(root);
    for (QObject* o : client->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w || IsTemplateRoot(w))
            continue;
        bool ok = false;
        if (w->property("ctrlId").toInt(&ok) == ctrlId && ok)
            return w;
        if (IsPlainContainer(w) && w != client) {
            if (QWidget* found = FindControl(w, ctrlId))
                return found;
        }
    }
    return nullptr;
}

}  // namespace strevo
