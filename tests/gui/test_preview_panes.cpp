// Live preview panes against simulated network cameras: which pane a preview
// takes, what the operator sees when a login or a stream fails or a camera
// stops sending, the close commands and mode switch, and that destroying the
// window ends every stream and connection. The window starts discovery, which
// broadcasts, so this runs in the private network namespace.
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CPreviewPane.h"
#include "CPtzCtrl.h"
#include "CTivanoDlg.h"
#include "CameraModel.h"
#include "Camsim.h"
#include "MessageRecorder.h"
#include "NetCommands.h"
#include "PelionSocket.h"
#include "SimNetCameras.h"

using namespace strevo;

namespace {

bool ShowsVideo(const CTivanoDlg& d, int pane) {
    const QImage& picture = d.PanePicture(pane)->Picture();
    if (picture.isNull() || picture.size() != d.PaneControl(pane)->size())
        return false;
    // The middle of the pane is the camera's picture, not a black bar.
    const QColor c = picture.pixelColor(picture.width() / 2, picture.height() / 2);
    return c.red() + c.green() + c.blue() > 60;
}

}  // namespace

class TestPreviewPanes : public QObject {
    Q_OBJECT

  private:
    MessageRecorder m_messages;
    std::unique_ptr<SimNetCameras> m_good, m_wrongPassword, m_refusing, m_dropping;

    // Each window gets a directory of its own: no settings carry over.
    std::unique_ptr<QTemporaryDir> m_dir;
    std::string ModuleDir() {
        m_dir = std::make_unique<QTemporaryDir>();
        return m_dir->path().toStdString() + "/";
    }
    void Open(CTivanoDlg& d, const std::string& address) {
        d.OpenPreview(ProgramLoginInfo(address.c_str()), 0);
    }

    static void CheckPtzTarget(CTivanoDlg& d, int pane) {
        QCOMPARE(d.Ptz()->TargetId(), intptr_t(d.Pane(pane).login));
        QCOMPARE(QByteArray(d.Ptz()->TargetAddress()), QByteArray(d.Pane(pane).ip));
        QCOMPARE(d.Ptz()->TargetPort(), 36666);
    }
    static bool Playing(const CTivanoDlg& d, int pane) {
        const PreviewPane& p = d.Pane(pane);
        return p.login >= 0 && p.Occupied() && p.playerPort.Get() >= 0;
    }
    static bool Closed(const CTivanoDlg& d, int pane) {
        const PreviewPane& p = d.Pane(pane);
        return p.login < 0 && !p.Occupied() && p.playerPort.Get() < 0 &&
               d.PanePicture(pane)->Picture().isNull();
    }

  private slots:
    void initTestCase() {
        const std::vector<std::string> small = {"--net-video", "320x180@15"};
        m_good = std::make_unique<SimNetCameras>(4, "127.0.0.2", small);
        m_wrongPassword = std::make_unique<SimNetCameras>(
            1, "127.0.1.2", std::vector<std::string>{"--net-password", "x"});
        m_refusing = std::make_unique<SimNetCameras>(
            1, "127.0.2.2", std::vector<std::string>{"--net-max-streams", "0"});
        std::vector<std::string> drop = small;
        drop.insert(drop.end(), {"--net-drop-after", "1"});
        m_dropping = std::make_unique<SimNetCameras>(1, "127.0.3.2", drop);
        for (auto* cams : {m_good.get(), m_wrongPassword.get(), m_refusing.get(), m_dropping.get()})
            QVERIFY2(cams->Started(), cams->BadOption().c_str());
    }
    void cleanupTestCase() {
        m_good.reset();
        m_wrongPassword.reset();
        m_refusing.reset();
        m_dropping.reset();
    }
    void init() { m_messages.texts.clear(); }

    // Free panes first, then the selected one; "1*1" uses pane 0 only and leaves
    // the hidden panes playing; clicks select panes that show video.
    void choosingPanes() {
        CTivanoDlg d(ModuleDir());
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        Open(d, m_good->Address(0));
        QCOMPARE(d.SelectedPane(), 0);
        QVERIFY(Playing(d, 0));
        CheckPtzTarget(d, 0);
        // The same camera again goes to the next free pane, and so on.
        Open(d, m_good->Address(0));
        Open(d, m_good->Address(1));
        Open(d, m_good->Address(2));
        QCOMPARE(d.SelectedPane(), 3);
        for (int i = 0; i < 4; ++i) QVERIFY(Playing(d, i));
        QCOMPARE(QByteArray(d.Pane(1).ip), QByteArray::fromStdString(m_good->Address(0)));
        CheckPtzTarget(d, 3);
        for (int i = 0; i < 4; ++i) QTRY_VERIFY_WITH_TIMEOUT(ShowsVideo(d, i), 10000);

        // A click on a pane that shows video selects it; the red frame follows.
        QTest::mouseClick(d.PaneControl(1), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(d.SelectedPane(), 1);
        CheckPtzTarget(d, 1);
        const QImage client = d.Client()->grab().toImage();
        const QRect r1 = d.PaneControl(1)->geometry();
        QCOMPARE(client.pixelColor(r1.x() - 1, r1.center().y()), QColor(255, 0, 0));
        const QRect r2 = d.PaneControl(2)->geometry();
        QCOMPARE(client.pixelColor(r2.x() - 1, r2.center().y()), QColor(0, 0, 0));

        // All four occupied: the selected pane's preview is replaced.
        const int32_t others[] = {d.Pane(0).login, d.Pane(2).login, d.Pane(3).login};
        Open(d, m_good->Address(3));
        QCOMPARE(d.SelectedPane(), 1);
        QCOMPARE(QByteArray(d.Pane(1).ip), QByteArray::fromStdString(m_good->Address(3)));
        QVERIFY(Playing(d, 1));
        QCOMPARE(d.Pane(0).login, others[0]);
        QCOMPARE(d.Pane(2).login, others[1]);
        QCOMPARE(d.Pane(3).login, others[2]);
        QTRY_VERIFY_WITH_TIMEOUT(ShowsVideo(d, 1), 10000);

        // One pane: it is selected, and a preview replaces its own.
        d.OnLayout(1);
        QCOMPARE(d.SelectedPane(), 0);
        Open(d, m_good->Address(1));
        QCOMPARE(d.SelectedPane(), 0);
        QCOMPARE(QByteArray(d.Pane(0).ip), QByteArray::fromStdString(m_good->Address(1)));
        QTRY_VERIFY_WITH_TIMEOUT(ShowsVideo(d, 0), 10000);
        // The hidden panes keep playing through "关闭所有视频" and the switch to USB.
        d.OnCloseAllVideo();
        QVERIFY(Closed(d, 0));
        for (int i = 1; i < 4; ++i) QVERIFY(Playing(d, i));
        Open(d, m_good->Address(2));
        QVERIFY(Playing(d, 0));
        d.OnModeUsb();
        QVERIFY(Closed(d, 0));
        for (int i = 1; i < 4; ++i) QVERIFY(Playing(d, i));
        d.OnModeIp();
        d.OnLayout(2);
        d.OnModeUsb();
        for (int i = 0; i < 4; ++i) QVERIFY(Closed(d, i));
        QVERIFY(m_messages.texts.empty());
    }

    void failuresReachTheOperator() {
        CTivanoDlg d(ModuleDir());
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        Open(d, m_good->Address(0));
        QVERIFY(Playing(d, 0));

        // Wrong password: the next free pane was chosen and closed for it.
        Open(d, m_wrongPassword->Address(0));
        QCOMPARE(m_messages.texts, std::vector<std::string>{"登录失败 错误码为-9"});
        QCOMPARE(d.SelectedPane(), 1);
        QVERIFY(Closed(d, 1));
        CheckPtzTarget(d, 0);  // not retargeted

        // Stream refused: logged in, not playing; the PTZ panel keeps its target.
        m_messages.texts.clear();
        Open(d, m_refusing->Address(0));
        QCOMPARE(m_messages.texts, std::vector<std::string>{"请求主码流失败! 错误码为: -10\n"});
        QCOMPARE(d.SelectedPane(), 1);
        QVERIFY(d.Pane(1).login >= 0);
        QCOMPARE(d.Pane(1).playerPort.Get(), -1);
        CheckPtzTarget(d, 0);
        QVERIFY(Playing(d, 0));

        // A camera that stops sending: the pane keeps its last picture.
        m_messages.texts.clear();
        Open(d, m_dropping->Address(0));
        QCOMPARE(d.SelectedPane(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(ShowsVideo(d, 2), 10000);
        QTest::qWait(2500);  // well past the drop
        QVERIFY(ShowsVideo(d, 2));
        QVERIFY(Playing(d, 2));
        QVERIFY(m_messages.texts.empty());

        // "关闭视频" on it closes that pane only.
        QCOMPARE(d.ContextMenuAt(d.PaneControl(2)->geometry().center()), d.VideoMenu());
        d.OnCloseVideo();
        QVERIFY(Closed(d, 2));
        QVERIFY(Playing(d, 0));
        QVERIFY(d.Pane(1).login >= 0);
    }

    // The player's thread draws pictures into a pane while the window paints it
    // and the operator resizes it: every painted picture is one whole picture,
    // never parts of two nor the image's padding, the newest one is shown, and a
    // cleared pane shows its own text again.
    void paneShowsWholePictures() {
        QLabel label(QStringLiteral("video0"));
        label.resize(400, 300);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        auto* pane = new CPreviewPane(&label);  // owned by the label
        const QImage empty = label.grab().toImage();
        const MV_DrawTarget* target = pane->Target();
        // Fills the pane's image with one colour, as the player draws a picture.
        auto draw = [target](uint32_t colour) {
            MV_Image image{};
            if (!target->lock(target->user, &image))
                return;
            for (int y = 0; y < image.height; ++y)
                std::fill_n(reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(image.pixels) +
                                                        static_cast<ptrdiff_t>(y) * image.stride),
                            image.width, colour);
            MV_Picture picture{};
            picture.pixels = image.pixels;
            picture.width = image.width;
            picture.height = image.height;
            picture.stride = image.stride;
            target->unlock(target->user, &picture);
        };
        std::atomic<bool> stop{false};
        std::thread player([&] {
            for (uint32_t i = 0; !stop.load(); ++i)
                draw(0xff000000u | (i % 2 ? 0xff4020u : 0x20a0ffu));
        });
        QTRY_VERIFY(!pane->Picture().isNull());
        bool torn = false;
        for (int n = 0; n < 200 && !torn; ++n) {
            if (n % 5 == 4)  // an odd width: rows padded past the picture
                label.resize(n % 10 == 4 ? QSize(203, 151) : QSize(400, 300));
            QCoreApplication::processEvents();
            const QImage shot = label.grab().toImage();
            for (int y = 0; y < shot.height() && !torn; y += 3)
                for (int x = 0; x < shot.width() && !torn; x += 7)
                    torn = shot.pixel(x, y) != shot.pixel(0, 0) ||
                           shot.pixel(shot.width() - 1, y) != shot.pixel(0, 0);
        }
        stop.store(true);
        player.join();
        QVERIFY(!torn);

        label.resize(203, 151);
        draw(0xff123456u);
        QTRY_COMPARE(label.grab().toImage().pixel(202, 150), 0xff123456u);
        QCOMPARE(pane->Picture().size(), QSize(203, 151));
        QCOMPARE(pane->Picture().pixel(0, 0), 0xff123456u);
        label.resize(400, 300);
        pane->Clear();
        QVERIFY(pane->Picture().isNull());
        QCOMPARE(label.grab().toImage(), empty);
    }

    // Destroying the window closes the panes, then the SDK: no connection stays.
    void destructionEndsEveryStream() {
        {
            CTivanoDlg d(ModuleDir());
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            for (int i = 0; i < 4; ++i) Open(d, m_good->Address(i));
            for (int i = 0; i < 4; ++i) QTRY_VERIFY_WITH_TIMEOUT(ShowsVideo(d, i), 10000);
            QCOMPARE(pelion::seams::OpenConnections(), 8);  // a login and a stream each
        }
        QCOMPARE(pelion::seams::OpenConnections(), 0);
        QCOMPARE(PELION_Login(ProgramLoginInfo(m_good->Address(0).c_str()), nullptr, 0, 0, 0, 0),
                 -1);
        QCOMPARE(PELION_GetLastError(), PELION_ERR_NOT_INIT);
    }
};

QTEST_MAIN(TestPreviewPanes)
#include "test_preview_panes.moc"
