// The many-camera import dialog against simulated cameras: the open cameras
// listed and ticked, a file that is no parameter file refused before anything
// is sent, a run over three cameras with one malformed (two "成功" and read
// back byte for byte, the third its code), and the copy of one camera's record
// with that camera left out. With STREVO_SHOT_DIR set, the dialog after the
// run is saved there (import-many.png).
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <memory>

#include "CParamImportDlg.h"
#include "CUSBDevice.h"
#include "MessageRecorder.h"
#include "UsbSim.h"
#include "UsbDeviceList.h"

using namespace strevo;

namespace {

QString Cell(const CParamImportDlg& d, int row, int col) {
    const QTableWidgetItem* item = d.DeviceList()->item(row, col);
    return item ? item->text() : QStringLiteral("<none>");
}

bool Ticked(const CParamImportDlg& d, int row) {
    return d.DeviceList()->item(row, kUsbColNo)->checkState() == Qt::Checked;
}

}  // namespace

class TestParamImportDlg : public QObject {
    Q_OBJECT

  private:
    camsim::UsbSimServer m_sim;
    std::unique_ptr<CUSBDevice> m_usb;
    QTemporaryDir m_dir;
    MessageRecorder m_messages;

    VideoParam Read(int camera) {
        VideoParam p{};
        const int32_t rc = m_usb->GetVideoParam(m_usb->GetEntry(camera).handle, &p);
        return rc == 0 ? p : VideoParam{};
    }

  private slots:
    void initTestCase() {
        std::vector<camsim::UsbCamera> cams(3);
        const char* const names[] = {"演播室摄像机 1", "Studio Cam 2", "会议室 3"};
        for (int i = 0; i < 3; ++i) {
            cams[static_cast<size_t>(i)].name = names[i];
            cams[static_cast<size_t>(i)].model = "TV-U" + std::to_string(200 + 10 * i);
            cams[static_cast<size_t>(i)].serial = "SN000" + std::to_string(21000 + i);
        }
        const int port = m_sim.Start(cams);
        QVERIFY(port > 0);
        m_usb = std::make_unique<CUSBDevice>(MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
        m_usb->refreshSettleMs = 0;
        QCOMPARE(m_usb->RefreshDevices(), 3);
    }
    void init() { m_messages.texts.clear(); }

    void fileIntoThreeCamerasOneMalformed() {
        VideoParam record = Read(0);
        record.Luminance = static_cast<uint8_t>(record.Luminance + 11);
        record.ucRotation = 2;
        record.u32CTNum = 5200;
        const QString path = m_dir.filePath(QStringLiteral("video_params.dat"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(reinterpret_cast<const char*>(&record), sizeof record);
        }
        const QString shortPath = m_dir.filePath(QStringLiteral("short.dat"));
        {
            QFile f(shortPath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(54, '\1'));
        }
        camsim::UsbFaultSetting bad;
        bad.kind = camsim::UsbFault::kBadMagic;
        m_sim.SetFault(1, bad);

        CParamImportDlg d;
        d.m_devices = m_usb->Entries();
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.DeviceList()->rowCount(), 3);
        for (int r = 0; r < 3; ++r) QVERIFY(Ticked(d, r));
        QCOMPARE(Cell(d, 1, kUsbColName), QStringLiteral("Studio Cam 2"));
        QVERIFY(!d.StartButton()->isEnabled());

        QVERIFY(!d.SetFile(QFile::encodeName(shortPath).toStdString()));
        QCOMPARE(m_messages.texts, std::vector<std::string>{"数据长度不匹配！"});
        QVERIFY(!d.StartButton()->isEnabled());

        QVERIFY(d.SetFile(QFile::encodeName(path).toStdString()));
        d.StartButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(d.StatusLine()->text().startsWith(QStringLiteral("导入完成")),
                                 8000);
        QCOMPARE(d.StatusLine()->text(), QStringLiteral("导入完成: 2 台成功, 1 台失败"));
        QCOMPARE(Cell(d, 0, kUsbColStatus), QStringLiteral("成功"));
        QCOMPARE(Cell(d, 1, kUsbColStatus), QStringLiteral("失败: %1").arg(kUsbBadAnswer));
        QCOMPARE(Cell(d, 2, kUsbColStatus), QStringLiteral("成功"));
        QVERIFY(d.StartButton()->isEnabled());
        // Nothing goes to the operator in a box: the rows say it.
        QCOMPARE(m_messages.texts.size(), size_t{1});

        const QByteArray dir = qgetenv("STREVO_SHOT_DIR");
        if (!dir.isEmpty())
            QVERIFY(d.grab().save(QDir(QString::fromLocal8Bit(dir)).filePath("import-many.png")));
        d.accept();

        m_sim.SetFault(1, camsim::UsbFaultSetting{});
        QTest::qWait(200);  // the malformed answer's last reports
        for (int camera : {0, 2}) {
            const VideoParam back = Read(camera);
            QVERIFY2(std::memcmp(&back, &record, sizeof back) == 0,
                     qPrintable(QStringLiteral("camera %1").arg(camera)));
        }
    }

    // The selected camera's record into the others; the source stays out.
    void copyOfOneCamera() {
        VideoParam source = Read(2);
        source.Saturation = static_cast<uint8_t>(source.Saturation + 5);
        source.bVertInvert = static_cast<uint8_t>(!source.bVertInvert);
        QCOMPARE(m_usb->SetVideoParam(m_usb->GetEntry(2).handle, &source), 0);
        source = Read(2);

        CParamImportDlg d;
        d.m_devices = m_usb->Entries();
        d.SetRecord(source, QStringLiteral("会议室 3"), m_usb->GetEntry(2).handle);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QVERIFY(!d.BrowseButton()->isVisible());
        QVERIFY(Ticked(d, 0) && Ticked(d, 1) && !Ticked(d, 2));
        QCOMPARE(Cell(d, 2, kUsbColStatus), QStringLiteral("参数来源"));
        // The operator leaves camera 1 out too.
        d.DeviceList()->item(1, kUsbColNo)->setCheckState(Qt::Unchecked);
        const VideoParam before1 = Read(1);
        d.StartButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(d.StatusLine()->text(),
                                  QStringLiteral("导入完成: 1 台设备成功"), 8000);
        d.reject();
        const VideoParam back0 = Read(0), back1 = Read(1);
        QVERIFY(std::memcmp(&back0, &source, sizeof back0) == 0);
        QVERIFY(std::memcmp(&back1, &before1, sizeof back1) == 0);
    }
};

QTEST_MAIN(TestParamImportDlg)
#include "test_param_import_dlg.moc"
