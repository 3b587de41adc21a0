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
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QTest>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "CEnhanceTab.h"
#include "CExposureTab.h"
#include "CFocusTab.h"
#include "CPictureTab.h"
#include "CTivanoDlg.h"
#include "CVideoTab.h"
#include "CWhiteBalanceTab.h"
#include "CameraModel.h"
#include "DialogUnits.h"
#include "HidBackend.h"
#include "MessageRecorder.h"
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
        QCOMPARE(m_messages.texts, (std::vector<std::string>{"设置失败！", "设置失败！"}));
        for (int t : {263, 265, 271}) Host(t).items.clear();
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
    }
};

QTEST_MAIN(TestParamPages)
#include "test_param_pages.moc"
