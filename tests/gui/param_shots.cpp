// Pictures of the parameter editor for the documentation (scripts/screenshots):
// the image parameter dialog on a simulated network camera, one picture per
// tab, and the main window in USB mode after a camera's parameters were read,
// both at their default sizes. The cameras run in-process with values unlike
// their defaults. The main window starts discovery: run inside scripts/netns-run.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "CImageParamsDlg.h"
#include "CTivanoApp.h"
#include "CTivanoDlg.h"
#include "CameraModel.h"
#include "Camsim.h"
#include "NetCommands.h"
#include "UsbSim.h"
#include "VideoParam.h"

using namespace strevo;

namespace {

constexpr char kNetAddress[] = "127.0.0.90";

// Values an operator might have set, so the pictures show more than defaults.
void Customise(camsim::CameraModel& m) {
    const char* const items[] = {
        "\"Luminance\":62,\"Contrast\":55,\"Saturation\":70,\"ucHue\":48,\"Hue\":40",
        "\"eExposureMode\":1,\"BExpCPS\":-3,\"uiMShutterSpeed\":1000,\"ucManualGain\":24",
        "\"eWBMode\":0,\"u32CTNum\":5600,\"ucRGGain\":58,\"ucBGGain\":46",
        "\"uc2DNR\":35,\"uc3DNR\":45,\"bHorzInvert\":1,\"eSceneMode\":3",
    };
    for (const char* item : items) {
        std::string text;
        BuildSetItemText(item, &text);
        m.HandleJson(text);
    }
}

bool Save(QWidget* w, const QString& path) {
    QApplication::processEvents();
    if (w->grab().save(path)) {
        std::printf("%s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "param_shots: could not save %s\n", qPrintable(path));
    return false;
}

class ReadingDlg : public CTivanoDlg {
  public:
    using CTivanoDlg::CTivanoDlg;
    using CTivanoDlg::ReadUsbCameraParams;
};

}  // namespace

int main(int argc, char** argv) {
    CTivanoApp app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    camsim::World world;
    auto net = std::make_shared<camsim::CameraModel>("Studio A");
    Customise(*net);
    world.net.push_back({kNetAddress, "Studio A", "00:1A:2B:00:00:90", net});
    for (const char* name : {"演播室摄像机 1", "Studio Cam 2"}) {
        camsim::UsbCamera c;
        c.name = name;
        c.model = "TV-U200";
        c.serial = "SN0001";
        c.buildDate = "2026-10-01";
        c.state = std::make_shared<camsim::CameraModel>(name);
        Customise(*c.state);
        world.usb.push_back(c);
    }
    std::unique_ptr<camsim::Module> netModule = camsim::MakeNetModule();
    camsim::UsbSimServer usbSim;
    const int port = usbSim.Start(world.usb);
    if (!netModule->Start(world) || port <= 0)
        return 1;
    setenv("STREVO_HID_SIM", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);

    bool ok = true;
    {
        // The main window in USB mode at its default size, after a double-click read.
        QTemporaryDir dir;
        QFile ini(dir.filePath(QStringLiteral("toolscfg.ini")));
        if (!ini.open(QIODevice::WriteOnly))
            return 1;
        ini.write("[SEARCH_MODE]\nMode=1\n");
        ini.close();
        ReadingDlg main(dir.path().toStdString());
        main.show();
        QSignalSpy filled(&main, &CTivanoDlg::DeviceTreeRefreshed);
        if (!filled.wait(8000) || main.Nodes().empty())
            return 1;
        main.Tree()->setCurrentItem(main.Nodes()[0].item);
        main.ReadUsbCameraParams(main.Nodes()[0]);
        ok = Save(&main, out + QStringLiteral("/usb-params.png")) && ok;
    }
    {
        // The dialog on the network camera, each tab at the dialog's own size.
        PELION_Init(0);
        char deviceInfo[PELION_DEVICE_INFO_SIZE] = {};
        const int32_t login = PELION_Login(ProgramLoginInfo(kNetAddress), deviceInfo, 0, 0, 0, 0);
        if (login < 0)
            return 1;
        CImageParamsDlg dlg;
        dlg.SetDeviceHandle(login);
        dlg.show();
        if (!QTest::qWaitForWindowExposed(&dlg))
            return 1;
        const char* const names[] = {"picture", "exposure", "white-balance",
                                     "focus",   "enhance",  "video"};
        for (int i = 0; i < CImageParamsDlg::kPageCount; ++i) {
            dlg.Tabs()->setCurrentIndex(i);
            ok = Save(&dlg, out + QStringLiteral("/dialog-%1.png").arg(QLatin1String(names[i]))) &&
                 ok;
        }
        dlg.close();
        PELION_LogOut(login);
        PELION_Cleanup();
    }
    netModule->Stop();
    usbSim.Stop();
    return ok ? 0 : 1;
}
