// The six parameter pages: the exact item every kind of control sends, how a
// record is shown (and that showing never writes), the rows that follow a
// mode, failed writes, the drag throttle on a fake clock, number boxes and the
// keyboard; then the pages in the main window on a simulated USB camera
// (the main window starts discovery, so this runs in the private namespace).
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "CEnhanceTab.h"
#include "CExposureTab.h"
#include "CFocusTab.h"
#include "CImageParamsDlg.h"
#include "CPictureTab.h"
#include "CTivanoDlg.h"
#include "CVideoTab.h"
#include "CWhiteBalanceTab.h"
#include "CameraModel.h"
#include "DialogUnits.h"
#include "HidBackend.h"
#include "MessageRecorder.h"
#include "OperatorMessages.h"
#include "UsbSim.h"
#include "VideoParam.h"

using namespace strevo;

namespace {

class RecordingHost final : public IParamHost {
  public:
    QStringList items;
    int32_t result = 0;
    int32_t focusNear = 0;
    std::function<void()> onWrite;

    int32_t SetVideoParamItem(const char* text) override {
        items << QString::fromUtf8(text);
        if (onWrite)
            onWrite();
        return result;
    }
    int32_t GetFocusNear() override { return focusNear; }
    QStringList Take() { return std::exchange(items, {}); }
};

// A page in a dialog that Enter (default button) or Escape would close.
struct Hosted {
    QDialog dlg;
    RecordingHost host;
    CParamPage* page = nullptr;
    Hosted(std::function<CParamPage*(QWidget*)> make, bool mainWindow) : page(make(&dlg)) {
        auto* ok = new QPushButton(QStringLiteral("OK"), &dlg);
        ok->setDefault(true);
        ok->move(0, page->height());
        QObject::connect(ok, &QPushButton::clicked, &dlg, &QDialog::accept);
        page->SetHost(&host, mainWindow);
        dlg.show();
    }
};

template <class Page>
CParamPage* Make(QWidget* parent) {
    return new Page(parent);
}

uint32_t g_now = 100000;  // the fake millisecond tick

QString Item(const char* key, int value) {
    return QStringLiteral("\"%1\":%2").arg(QLatin1String(key)).arg(value);
}

VideoParam Record(std::initializer_list<std::pair<const char*, int>> fields) {
    VideoParam p;
    std::memset(&p, 0, sizeof p);
    for (const auto& [key, value] : fields) SetFieldValue(&p, *FindVideoParamField(key), value);
    return p;
}

QSlider* Slider(QWidget* p, int id) {
    return qobject_cast<QSlider*>(FindControl(p, id));
}
QComboBox* List(QWidget* p, int id) {
    return qobject_cast<QComboBox*>(FindControl(p, id));
}
QLineEdit* Box(QWidget* p, int id) {
    return qobject_cast<QLineEdit*>(FindControl(p, id));
}
bool Enabled(QWidget* p, int id) {
    return FindControl(p, id)->isEnabled();
}

// The operator's choice from a list.
void Choose(QWidget* page, int id, const char* text) {
    QComboBox* list = List(page, id);
    const int index = list->findText(QString::fromUtf8(text));
    QVERIFY2(index >= 0, text);
    list->setCurrentIndex(index);
    emit list->activated(index);
}

// A mouse drag: the thumb pressed, moved through the positions `step` ms
// apart, and released.
void Drag(QSlider* s, std::initializer_list<int> positions, uint32_t step = 10) {
    s->setSliderDown(true);
    for (int p : positions) {
        g_now += step;
        s->setSliderPosition(p);
    }
    s->setSliderDown(false);
}

// Types into a number box and presses Enter.
void Type(QLineEdit* box, const char* text) {
    box->window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(box->window()));
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QString::fromUtf8(text));
    QTest::keyClick(box, Qt::Key_Return);
}

// The image parameter dialog with its writes recorded instead of sent.
class ItemsDlg final : public CImageParamsDlg {
  public:
    QStringList items;
    int32_t result = 0;
    int32_t SetVideoParamItem(const char* text) override {
        items << QString::fromUtf8(text);
        return result;
    }
};

// Operator messages shown as a modal box would be: the event loop runs while
// one is open. Counts boxes opened inside another and writes made meanwhile.
class ModalMessages final : public IOperatorMessages {
  public:
    ModalMessages() { previous_ = SetOperatorMessages(this); }
    ~ModalMessages() override { SetOperatorMessages(previous_); }
    void Show(const std::string& text) override {
        texts.push_back(text);
        if (++open_ > 1)
            ++stacked;
        g_now += 1000;  // the operator reads the message
        QTest::qWait(700);
        --open_;
    }
    bool Open() const { return open_ > 0; }

    std::vector<std::string> texts;
    int stacked = 0;

  private:
    int open_ = 0;
    IOperatorMessages* previous_ = nullptr;
};

void ClickInto(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

void ClickTab(QTabWidget* tabs, int index) {
    QTabBar* bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    QCOMPARE(tabs->currentIndex(), index);
}

// Types into a list's edit field, over what it shows.
void TypeInList(QComboBox* list, const char* text) {
    list->setFocus(Qt::TabFocusReason);
    list->lineEdit()->selectAll();
    // Key by key, as a keyboard (or an input method) hands text in.
    for (const QChar c : QString::fromUtf8(text))
        QTest::sendKeyEvent(QTest::Click, list, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

}  // namespace

class TestParamPages : public QObject {
    Q_OBJECT
    MessageRecorder m_messages;
    std::map<int, std::unique_ptr<Hosted>> m_pages;  // by template

    CParamPage* Page(int t) { return m_pages.at(t)->page; }
    RecordingHost& Host(int t) { return m_pages.at(t)->host; }
    QStringList Sent(int t) { return Host(t).Take(); }
    void ShowAll(const VideoParam& p) {
        for (auto& [t, h] : m_pages) h->page->ShowParams(p);
    }

  private slots:
    void initTestCase() {
        CParamPage::SetTickSource([] { return g_now; });
    }
    void init() {
        g_now += 10000;  // every test starts outside every slider's window
        m_messages.texts.clear();
        m_pages[261] = std::make_unique<Hosted>(Make<CPictureTab>, false);
        m_pages[263] = std::make_unique<Hosted>(Make<CExposureTab>, false);
        m_pages[265] = std::make_unique<Hosted>(Make<CWhiteBalanceTab>, false);
        m_pages[267] = std::make_unique<Hosted>(Make<CFocusTab>, true);
        m_pages[271] = std::make_unique<Hosted>(Make<CEnhanceTab>, true);
        m_pages[273] = std::make_unique<Hosted>(Make<CVideoTab>, true);
    }
    void cleanup() {
        for (auto& [t, h] : m_pages)
            QVERIFY2(h->host.items.isEmpty(), qPrintable(h->host.items.join(' ')));
        m_pages.clear();
    }

    // Each list sends its key with the mapped value, and a record selects the
    // item back; a value that no item stands for selects nothing.
    void listsBothWays() {
        QCOMPARE(List(Page(263), 1481)->currentIndex(), -1);  // shutter: filled in code
        const struct {
            int page, list;
            const char* key;
            int value;
            const char* text;  // "" for no selection
            bool chosen;       // also chosen by the operator
        } cases[] = {
            {263, 1481, "uiMShutterSpeed", 3333, "1/30", true},
            {263, 1481, "uiMShutterSpeed", 3334, "1/30", false},  // no such speed: kept
            {263, 1482, "ucManualIris", 254, "OFF", true},
            {263, 1482, "ucManualIris", 0, "F1.5", true},
            {263, 1482, "ucManualIris", 11, "", false},
            {263, 1483, "ucAEWeightLevel", 1, "全局", true},
            {263, 1483, "ucAEWeightLevel", 0, "", false},
            {265, 1478, "eWBMode", 30, "固定色温", true},
            {265, 1478, "eWBMode", 2, "一次白平衡", false},
            {265, 1478, "eWBMode", 5, "", false},
            {267, 1483, "ucFocusDistanceMin", 11, "", false},
            {273, 1488, "ucRotation", 3, "打开", true},
            {273, 1488, "ucRotation", 1, "打开", false},
            {273, 1488, "ucRotation", 2, "", false},
            {273, 1489, "eSceneMode", 1, "默认", true},
            {273, 1489, "eSceneMode", 2, "默认", false},
            {273, 1489, "eSceneMode", 4, "珠宝", true},
            {271, 1487, "ucGammaVal", 15, "", false},
        };
        for (const auto& c : cases) {
            if (c.chosen) {
                Choose(Page(c.page), c.list, c.text);
                QCOMPARE(Sent(c.page), QStringList{Item(c.key, c.value)});
            }
            Page(c.page)->ShowParams(Record({{c.key, c.value}}));
            QCOMPARE(List(Page(c.page), c.list)->currentText(), QString::fromUtf8(c.text));
        }
    }

    // Sliders send their position (colour temperature in kelvin); number boxes
    // send what was typed, and each page moves its slider in its own order.
    void slidersAndBoxes() {
        QCOMPARE(Box(Page(265), 1496)->text(), QStringLiteral("2500"));
        QCOMPARE(Box(Page(263), 1476)->text(), QStringLiteral("0"));
        Drag(Slider(Page(261), 1477), {60});
        Drag(Slider(Page(261), 1476), {30});
        QCOMPARE(Sent(261), (QStringList{Item("Hue", 60), Item("ucHue", 30)}));

        ShowAll(Record({{"eWBMode", 30}, {"eWDMode", 1}, {"u32CTNum", 5650}, {"BExpCPS", -10}}));
        QCOMPARE(Slider(Page(265), 1481)->value(), 56);
        QCOMPARE(Box(Page(265), 1496)->text(), QStringLiteral("5650"));
        QCOMPARE(Slider(Page(263), 1478)->value(), -10);
        QCOMPARE(Box(Page(263), 1490)->text(), QStringLiteral("-10"));
        Drag(Slider(Page(265), 1481), {57});
        Drag(Slider(Page(263), 1478), {20});
        QCOMPARE(Sent(265), QStringList{Item("u32CTNum", 5700)});
        QCOMPARE(Sent(263), QStringList{Item("BExpCPS", 20)});

        Type(Box(Page(265), 1496), "6789");  // cut to whole hundreds, and shown so
        QCOMPARE(Sent(265), QStringList{Item("u32CTNum", 6700)});
        QCOMPARE(Slider(Page(265), 1481)->value(), 67);
        QCOMPARE(Box(Page(265), 1496)->text(), QStringLiteral("6700"));

        // The picture page moves its slider before the write, the others after.
        int atWrite = -1;
        Host(261).onWrite = [&] { atWrite = Slider(Page(261), 1474)->value(); };
        Type(Box(Page(261), 1489), "42");
        QCOMPARE(atWrite, 42);
        Host(263).onWrite = [&] { atWrite = Slider(Page(263), 1475)->value(); };
        Type(Box(Page(263), 1489), "42");
        QCOMPARE(atWrite, 0);
        QCOMPARE(Slider(Page(263), 1475)->value(), 42);
        QCOMPARE(Sent(261), QStringList{Item("Contrast", 42)});
        QCOMPARE(Sent(263), QStringList{Item("ucWDRStrength", 42)});

        // Beyond the range: sent as typed, the slider at its end. Unchanged:
        // sent again. Not an integer: the prompt, and the previous value.
        for (const char* text : {"300", "300", "3x"}) Type(Box(Page(261), 1488), text);
        QCOMPARE(Sent(261), QStringList(3, Item("Luminance", 300)));
        QCOMPARE(Slider(Page(261), 1473)->value(), 100);
        QCOMPARE(Box(Page(261), 1488)->text(), QStringLiteral("300"));
        QCOMPARE(m_messages.texts, std::vector<std::string>{"请输入一个整数。"});
    }

    // Enter and Escape inside a page never close the dialog that hosts it;
    // Enter leaves a number box, which sends it.
    void keysStayInPage() {
        Type(Box(Page(271), 1498), "40");
        QCOMPARE(Sent(271), QStringList{Item("ucDelFogClass", 40)});
        QVERIFY(!Box(Page(271), 1498)->hasFocus());
        for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
            QTest::keyClick(Slider(Page(271), 1482), Qt::Key(key));
            QTest::keyClick(List(Page(267), 1480), Qt::Key(key));
        }
        Type(Box(Page(267), 1519), "12");  // shows only: never sent
        QTest::keyClick(Box(Page(267), 1519), Qt::Key_Escape);
        for (int t : {271, 267}) QVERIFY(m_pages[t]->dlg.isVisible());
    }

    // The rows a mode enables, from a choice and from a record; a refused
    // white balance mode is put back, other refused choices stay.
    void modeRows() {
        auto states = [](QWidget* page, std::initializer_list<int> ids) {
            QString s;
            for (int id : ids) s += Enabled(page, id) ? '1' : '0';
            return s;
        };
        // Shutter, gain, gain limit (slider, box, label), iris, compensation, WDR level.
        auto ex = [&] {
            return states(Page(263), {1481, 1497, 1498, 1484, 1502, 1482, 1478, 1475});
        };
        Choose(Page(263), 1474, "手动");
        QCOMPARE(ex(), QStringLiteral("11000101"));
        Choose(Page(263), 1474, "自动");
        QCOMPARE(ex(), QStringLiteral("00111011"));
        Page(263)->ShowParams(Record({{"eExposureMode", 5}, {"ucAEWeightLevel", 1}}));
        QCOMPARE(ex(), QStringLiteral("00111010"));  // no such mode: kept; WDR off
        Page(263)->ShowParams(Record({{"eExposureMode", 3}, {"eWDMode", 1}}));
        QCOMPARE(ex(), QStringLiteral("00111101"));
        Host(263).result = -5;
        Choose(Page(263), 1474, "快门优先");
        QCOMPARE(ex(), QStringLiteral("00111101"));
        QCOMPARE(List(Page(263), 1474)->currentText(), QStringLiteral("快门优先"));

        // Red gain (slider, box, label), blue gain, colour temperature (slider, box, label).
        auto wb = [&] { return states(Page(265), {1479, 1494, 1505, 1480, 1481, 1496, 1507}); };
        Choose(Page(265), 1478, "固定色温");
        QCOMPARE(wb(), QStringLiteral("0000111"));
        Choose(Page(265), 1478, "手动");
        QCOMPARE(wb(), QStringLiteral("1111000"));
        Host(265).result = -1;
        Choose(Page(265), 1478, "固定色温");
        QCOMPARE(List(Page(265), 1478)->currentText(), QStringLiteral("手动"));
        QCOMPARE(wb(), QStringLiteral("1111000"));
        Page(265)->ShowParams(Record({{"eWBMode", 3}}));
        QCOMPARE(wb(), QStringLiteral("0000000"));

        Choose(Page(271), 1485, "手动");
        QCOMPARE(states(Page(271), {1486, 1498, 1508}), QStringLiteral("111"));
        Choose(Page(271), 1485, "自动");
        QCOMPARE(states(Page(271), {1486, 1498, 1508}), QStringLiteral("000"));
        Host(271).result = -2;
        Choose(Page(271), 1485, "手动");
        QCOMPARE(states(Page(271), {1486, 1498, 1508}), QStringLiteral("000"));
        QCOMPARE(List(Page(271), 1485)->currentText(), QStringLiteral("手动"));
        QCOMPARE(m_messages.texts,
                 (std::vector<std::string>{"设置失败！", "设置失败！", "设置失败！"}));
        QCOMPARE(Sent(263), (QStringList{Item("eExposureMode", 1), Item("eExposureMode", 0),
                                         Item("eExposureMode", 2)}));
        QCOMPARE(Sent(265),
                 (QStringList{Item("eWBMode", 30), Item("eWBMode", 0), Item("eWBMode", 30)}));
        QCOMPARE(Sent(271), (QStringList{Item("ucDefogMode", 2), Item("ucDefogMode", 1),
                                         Item("ucDefogMode", 2)}));
    }

    // Every item of every list as the operator reads it, with the value it
    // stands for: choosing it writes that value, and a record with that value
    // selects it again. No list of a page is left out, none has an item more.
    void everyListItemBothWays() {
        QString shutter;
        for (int d :
             {1,   2,   4,   6,   8,   10,   12,   15,   18,   20,   25,   30,   40,   45,
              50,  55,  60,  70,  80,  90,   100,  120,  125,  150,  200,  225,  250,  300,
              350, 400, 500, 750, 900, 1000, 1200, 1500, 1800, 2000, 2500, 3000, 3500, 4000})
            shutter += QStringLiteral("1/%1=%2|").arg(d).arg(static_cast<int>(100000.0 / d + 0.5));
        shutter.chop(1);
        const struct {
            int page, list;
            const char* key;
            QString items;
        } lists[] = {
            {263, 1474, "eExposureMode", "自动=0|手动=1|快门优先=2|光圈优先=3"},
            {263, 1481, "uiMShutterSpeed", shutter},
            {263, 1482, "ucManualIris",
             "OFF=254|F1.5=0|F2.0=1|F2.4=2|F2.8=3|F3.4=4|F4.0=5|F4.8=6|F5.6=7|F6.8=8|F8.0=9|"
             "F9.6=10"},
            {263, 1483, "ucAEWeightLevel", "全局=1|中心=2|顶部=3|底部=4"},
            {263, 1477, "eWDMode", "关闭=0|打开=1"},
            {263, 1479, "bBacklightCompensation", "关闭=0|开启=1"},
            {263, 1480, "ucAntiFlicker", "关闭=0|50Hz=1|60Hz=2"},
            {265, 1478, "eWBMode", "手动=0|自动=1|一次白平衡=3|室内=4|固定色温=30"},
            {265, 1482, "uAwbTolerance", "低=0|中=1|高=2"},
            {267, 1480, "ucFocusMode", "手动=0|自动=1|一次聚焦=2|辅助聚焦=3"},
            {267, 1481, "ucAFScene", "速度优先=0|平滑优先=1"},
            {267, 1482, "ucAFArea", "默认=0|全部=1|上=2|中=3|下=4"},
            {267, 1483, "ucFocusDistanceMin",
             "1cm=0|30cm=1|50cm=2|75cm=3|1.0m=4|1.5m=5|2.0m=6|3.0m=7|5.0m=8|10m=9|21m=10"},
            {267, 1484, "ucAFSen", "低=0|中=1|高=2"},
            {271, 1485, "ucDefogMode", "关闭=0|自动=1|手动=2"},
            {271, 1487, "ucGammaVal",
             "默认=0|0.43=1|0.45=2|0.47=3|0.49=4|0.51=5|0.53=6|0.55=7|0.57=8|0.59=9|0.61=10|"
             "0.63=11|自定义1=12|自定义2=13|自定义3=14"},
            {271, 1488, "u32AIAe", "关闭=0|打开=1"},
            {271, 1489, "u32AIFocus", "关闭=0|打开=1"},
            {273, 1486, "bHorzInvert", "关闭=0|打开=1"},
            {273, 1487, "bVertInvert", "关闭=0|打开=1"},
            {273, 1488, "ucRotation", "关闭=0|打开=3"},
            {273, 1489, "eSceneMode", "默认=1|美颜=3|珠宝=4|服饰=5"},
        };
        std::map<int, int> listsOfPage;
        for (const auto& l : lists) {
            ++listsOfPage[l.page];
            const QStringList items = l.items.split('|');
            QComboBox* list = List(Page(l.page), l.list);
            QCOMPARE(list->count(), items.size());
            for (const QString& item : items) {
                const QString text = item.section('=', 0, 0);
                const int value = item.section('=', 1).toInt();
                Choose(Page(l.page), l.list, text.toUtf8().constData());
                QCOMPARE(Sent(l.page), QStringList{Item(l.key, value)});
                Page(l.page)->ShowParams(Record({}));  // away from it first
                Page(l.page)->ShowParams(Record({{l.key, value}}));
                QCOMPARE(list->currentText(), text);
            }
        }
        for (auto& [t, h] : m_pages)
            QCOMPARE(static_cast<int>(h->page->findChildren<QComboBox*>().size()), listsOfPage[t]);
    }

    // Text typed into a list's edit field never writes: not on Enter, not on
    // leaving the field, not when it matches an item or completes to one; the
    // field shows the current choice again. A choice from the open list or an
    // arrow key does write.
    void typedListTextNeverChooses() {
        CParamPage* ex = Page(263);
        ex->ShowParams(Record({{"ucManualIris", 254}, {"eExposureMode", 0}}));
        ex->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(ex->window()));
        QComboBox* iris = List(ex, 1482);
        QComboBox* mode = List(ex, 1474);
        const int irisItems = iris->count();
        for (const char* text : {"F4", "F4.0", "f4.0"}) {
            TypeInList(iris, text);
            QTest::keyClick(iris, Qt::Key_Tab);
            QCOMPARE(iris->currentText(), QStringLiteral("OFF"));
            QCOMPARE(iris->lineEdit()->text(), QStringLiteral("OFF"));
        }
        TypeInList(iris, "F9.6");
        QTest::keyClick(iris, Qt::Key_Return);
        QCOMPARE(iris->lineEdit()->text(), QStringLiteral("OFF"));
        TypeInList(iris, "新的一项");
        QTest::keyClick(iris, Qt::Key_Return);
        QCOMPARE(iris->count(), irisItems);
        QVERIFY(!Enabled(ex, 1497));  // gain: manual mode only
        TypeInList(mode, "手动");
        QTest::keyClick(mode, Qt::Key_Return);
        QCOMPARE(mode->currentText(), QStringLiteral("自动"));
        QVERIFY(!Enabled(ex, 1497));
        QVERIFY(m_pages[263]->dlg.isVisible());
        // (Tab may have passed through a number box, which sends when left.)
        QCOMPARE(Sent(263).filter(QRegularExpression("ucManualIris|eExposureMode")), QStringList{});

        QTest::keyClick(mode, Qt::Key_Down);
        QCOMPARE(Sent(263), QStringList{Item("eExposureMode", 1)});
        QVERIFY(Enabled(ex, 1497));
        mode->showPopup();
        QAbstractItemView* view = mode->view();
        QTRY_VERIFY(view->isVisible());
        const QRect item = view->visualRect(view->model()->index(2, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
        QCOMPARE(Sent(263), QStringList{Item("eExposureMode", 2)});
    }

    // While a failed write's message is open no other write starts: a slider
    // change held back by the throttle waits until the message is closed.
    void noWriteWhileAFailureIsShown() {
        ModalMessages modal;
        int writesWhileOpen = 0;
        Host(261).onWrite = [&] { writesWhileOpen += modal.Open() ? 1 : 0; };
        QSlider* brightness = Slider(Page(261), 1473);
        QSlider* contrast = Slider(Page(261), 1474);
        QTest::keyClick(brightness, Qt::Key_Right);
        QTest::keyClick(brightness, Qt::Key_Right);  // inside the window: held back
        QCOMPARE(Sent(261), QStringList{Item("Luminance", 1)});
        Host(261).result = -1;
        QTest::keyClick(contrast, Qt::Key_Right);
        QCOMPARE(writesWhileOpen, 0);
        QCOMPARE(modal.stacked, 0);
        QTRY_COMPARE_WITH_TIMEOUT(Host(261).items.size(), qsizetype(2), 3000);
        QCOMPARE(Sent(261), (QStringList{Item("Contrast", 1), Item("Luminance", 2)}));
        QCOMPARE(modal.stacked, 0);
        QCOMPARE(modal.texts, (std::vector<std::string>{"设置失败！", "设置失败！"}));
    }

    // In the dialog: switching tabs sends a box only when it holds an edit
    // not yet sent, however often the operator comes back to that tab; closing
    // sends the edit (with its failure messages) before the dialog goes.
    void dialogTabsAndClosing() {
        m_pages.clear();
        ItemsDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        m_messages.texts.clear();
        QTabWidget* tabs = dlg.Tabs();
        QLineEdit* box = Box(dlg.Page(CImageParamsDlg::kPicture), 1488);
        ClickInto(box);
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("42"));
        ClickTab(tabs, 1);
        QCOMPARE(std::exchange(dlg.items, {}), QStringList{Item("Luminance", 42)});
        dlg.result = -1;
        for (int round = 0; round < 3; ++round) {
            ClickTab(tabs, 0);
            ClickTab(tabs, 2);
        }
        QCOMPARE(dlg.items, QStringList{});
        QVERIFY(m_messages.texts.empty());

        ClickTab(tabs, 0);
        ClickInto(box);
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("43"));
        dlg.close();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.items, QStringList{Item("Luminance", 43)});
        QCOMPARE(m_messages.texts, std::vector<std::string>{"设置失败！"});
        m_messages.texts.clear();
    }

    // Showing a record writes nothing, then or later, even for values outside
    // a slider's range: the slider shows the nearer end and its box the value
    // until the operator moves it.
    void showingNeverWrites() {
        ShowAll(Record({{"Luminance", 150}, {"ucAutoGainLimit", 0}, {"u32CTNum", 10000}}));
        Type(Box(Page(261), 1489), "300");
        Sent(261);
        g_now += 1000;
        for (auto& [t, h] : m_pages) h->dlg.grab();
        QTest::qWait(600);
        for (auto& [t, h] : m_pages) QCOMPARE(h->host.items, QStringList{});
        QCOMPARE(Slider(Page(261), 1473)->value(), 100);
        QCOMPARE(Box(Page(261), 1488)->text(), QStringLiteral("150"));
        QCOMPARE(Slider(Page(263), 1498)->value(), 1);
        QCOMPARE(Box(Page(263), 1484)->text(), QStringLiteral("0"));
        QCOMPARE(Box(Page(265), 1496)->text(), QStringLiteral("10000"));

        Drag(Slider(Page(263), 1498), {});  // a click on the thumb moves nothing
        QTest::keyClick(Slider(Page(263), 1498), Qt::Key_Right);
        QCOMPARE(Sent(263), QStringList{Item("ucAutoGainLimit", 2)});
    }

    // At most one write per 500 ms per slider while it moves, shared by the
    // pages of one class; the release sends the final position; a held-back
    // keyboard step is sent when the window ends.
    void dragThrottle() {
        QSlider* s = Slider(Page(261), 1473);
        s->setSliderDown(true);
        for (int t = 20; t < 2000; t += 20) {
            g_now += 20;
            s->setSliderPosition(t / 20);
        }
        const QStringList dragged = Sent(261);
        QVERIFY2(dragged.size() >= 4 && dragged.size() <= 5, qPrintable(dragged.join(' ')));
        QCOMPARE(dragged.first(), Item("Luminance", 1));
        s->setSliderDown(false);
        QCOMPARE(Sent(261), QStringList{Item("Luminance", 99)});

        Drag(Slider(Page(261), 1474), {5, 6}, 0);  // another slider has its own window
        QCOMPARE(Sent(261), (QStringList{Item("Contrast", 5), Item("Contrast", 6)}));

        auto other = std::make_unique<Hosted>(Make<CPictureTab>, true);
        QSlider* o = Slider(other->page, 1473);
        g_now += 600;
        Drag(s, {50}, 0);
        Sent(261);
        QTest::keyClick(o, Qt::Key_Right);
        QTest::keyClick(o, Qt::Key_Right);
        QVERIFY(other->host.items.isEmpty());
        g_now += 500;
        QTRY_COMPARE_WITH_TIMEOUT(other->host.items, QStringList{Item("Luminance", 2)}, 2000);
        other->host.Take();
        QTest::keyClick(o, Qt::Key_Right);  // a step taken back sends nothing
        QTest::keyClick(o, Qt::Key_Left);
        g_now += 500;
        QTest::qWait(700);
        QVERIFY(other->host.items.isEmpty());
    }

    // The focus near limit: read by the button, shown, never sent.
    void focusNear() {
        auto refresh = [&] {
            QTest::mouseClick(qobject_cast<QPushButton*>(FindControl(Page(267), 1520)),
                              Qt::LeftButton);
        };
        Host(267).focusNear = 350;
        refresh();
        Host(267).focusNear = -10;
        refresh();
        Page(267)->ShowParams(Record({}));
        QCOMPARE(Box(Page(267), 1519)->text(), QStringLiteral("350"));
        Box(Page(267), 1519)->setText(QStringLiteral("near"));
        Choose(Page(267), 1484, "高");
        QCOMPARE(m_messages.texts, std::vector<std::string>{"请输入一个整数。"});
        QCOMPARE(Sent(267), QStringList{Item("ucAFSen", 2)});
    }

    // Hosted by the main window on a simulated USB camera: a double-click
    // read shows the camera's values, edits land in its store, a refused
    // write is reported and the white balance mode goes back.
    void mainWindowUsbCamera() {
        m_pages.clear();
        auto model = std::make_shared<camsim::CameraModel>("page cam");
        camsim::UsbCamera cam;
        cam.state = model;
        camsim::UsbSimServer server;
        const int port = server.Start({cam});
        QVERIFY(port > 0);
        QTemporaryDir dir;
        QFile ini(dir.filePath(QStringLiteral("toolscfg.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[SEARCH_MODE]\nMode=1\n");
        ini.close();
        CTivanoDlg d(dir.path().toStdString() + "/",
                     MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
        QSignalSpy filled(&d, &CTivanoDlg::DeviceTreeRefreshed);
        QVERIFY(filled.wait(8000));
        auto onCamera = [&](const char* key) {
            int32_t v = -1;
            model->GetParam(key, &v);
            return v;
        };
        std::string text;
        BuildSetItemText("\"uiMShutterSpeed\":3333,\"eWBMode\":0,\"Luminance\":150", &text);
        model->HandleJson(text);
        d.Tree()->setCurrentItem(d.FoundItem()->child(0));
        d.OnTreeDoubleClick();
        CParamPage* ex = d.Page(CTivanoDlg::kExposure);
        CParamPage* wb = d.Page(CTivanoDlg::kWhiteBalance);
        QCOMPARE(List(ex, 1481)->currentText(), QStringLiteral("1/30"));
        QCOMPARE(Box(d.Page(CTivanoDlg::kPicture), 1488)->text(), QStringLiteral("150"));

        Choose(ex, 1481, "1/750");
        Drag(Slider(d.Page(CTivanoDlg::kPicture), 1473), {63});
        Choose(d.Page(CTivanoDlg::kFocus), 1483, "75cm");
        QCOMPARE(onCamera("uiMShutterSpeed"), 133);
        QCOMPARE(onCamera("Luminance"), 63);
        QCOMPARE(onCamera("ucFocusDistanceMin"), 3);
        QVERIFY(m_messages.texts.empty());

        server.SetFault(0, {camsim::UsbFault::kBadMagic, 0});
        Choose(wb, 1478, "固定色温");
        QCOMPARE(List(wb, 1478)->currentText(), QStringLiteral("手动"));
        QCOMPARE(m_messages.texts, (std::vector<std::string>{"返回错误码: -310", "设置失败！"}));
        server.SetFault(0, {});
        Choose(wb, 1478, "固定色温");
        QCOMPARE(onCamera("eWBMode"), 30);

        // A value typed into a box reaches the camera before the switch to IP
        // closes it, and hiding the pages then sends nothing more.
        m_messages.texts.clear();
        QLineEdit* brightness = Box(d.Page(CTivanoDlg::kPicture), 1488);
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        ClickInto(brightness);
        brightness->selectAll();
        QTest::keyClicks(brightness, QStringLiteral("44"));
        d.OnModeIp();
        QCOMPARE(onCamera("Luminance"), 44);
        QVERIFY(m_messages.texts.empty());

        // Closing the main window sends it too.
        d.OnModeUsb();
        d.Tree()->setCurrentItem(d.FoundItem()->child(0));
        d.OnTreeDoubleClick();
        QCOMPARE(brightness->text(), QStringLiteral("44"));
        ClickInto(brightness);
        brightness->selectAll();
        QTest::keyClicks(brightness, QStringLiteral("45"));
        d.close();
        QCOMPARE(onCamera("Luminance"), 45);
        QVERIFY(m_messages.texts.empty());
    }
};

QTEST_MAIN(TestParamPages)
#include "test_param_pages.moc"
