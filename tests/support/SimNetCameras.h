// Simulated network cameras served in-process for tests: count cameras from a
// first loopback address on, configured with camsim's command-line options.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CameraModel.h"
#include "Camsim.h"

class SimNetCameras {
  public:
    // Given camsim::MakeRtspModule (link camsim_rtsp), the cameras also serve
    // RTSP; given camsim::MakeOnvifModule (link camsim_onvif), ONVIF. Options go
// to whichever module takes them.
    using RtspMaker =
        std::unique_ptr<camsim::Module> (*)(std::shared_ptr<const camsim::NetSettings>);
    SimNetCameras(int count, const std::string& first, std::vector<std::string> options = {},
                  const std::string& namePrefix = "IPC-", RtspMaker makeRtsp = nullptr,
                  RtspMaker makeOnvif = nullptr) {
        for (int i = 0; i < count; ++i) {
            camsim::NetCamera cam;
            cam.address = camsim::NetCameraAddress(i, first);
            cam.name = namePrefix + std::to_string(i + 1);
            cam.identity = cam.name;
            cam.model = std::make_shared<camsim::CameraModel>(cam.name);
            m_world.net.push_back(cam);
        }
        auto settings = std::make_shared<camsim::NetSettings>();
        m_module = camsim::MakeNetModule(settings);
        if (makeRtsp)
            m_rtsp = makeRtsp(settings);
        if (makeOnvif)
            m_onvif = makeOnvif(settings);
        std::vector<char*> argv;
        for (auto& o : options) argv.push_back(o.data());
        for (int i = 0; i < static_cast<int>(argv.size());) {
            int used = m_module->ParseOption(static_cast<int>(argv.size()), argv.data(), i);
            if (used == 0 && m_onvif)
                used = m_onvif->ParseOption(static_cast<int>(argv.size()), argv.data(), i);
            if (used == 0 && m_rtsp)
                used = m_rtsp->ParseOption(static_cast<int>(argv.size()), argv.data(), i);
            if (used <= 0) {
                m_badOption = options[static_cast<size_t>(i)];
                return;
            }
            i += used;
        }
        m_netStarted = m_module->Start(m_world);
        m_rtspStarted = m_netStarted && m_rtsp && m_rtsp->Start(m_world);
        m_onvifStarted = m_netStarted && m_onvif && m_onvif->Start(m_world);
        m_started = m_netStarted && (!m_rtsp || m_rtspStarted) && (!m_onvif || m_onvifStarted);
    }
    ~SimNetCameras() {
        if (m_onvifStarted)
            m_onvif->Stop();
        if (m_rtspStarted)
            m_rtsp->Stop();
        if (m_netStarted)
            m_module->Stop();
    }
    SimNetCameras(const SimNetCameras&) = delete;
    SimNetCameras& operator=(const SimNetCameras&) = delete;

    // False when an option was refused (BadOption names it) or a camera could not listen.
    bool Started() const { return m_started; }
    const std::string& BadOption() const { return m_badOption; }
    const std::string& Address(int i) const {
        return m_world.net.at(static_cast<size_t>(i)).address;
    }
    camsim::CameraModel& Model(int i) { return *m_world.net.at(static_cast<size_t>(i)).model; }

  private:
    camsim::World m_world;
    std::unique_ptr<camsim::Module> m_module;
    std::unique_ptr<camsim::Module> m_rtsp;
    std::unique_ptr<camsim::Module> m_onvif;
    bool m_started = false;
    bool m_netStarted = false;
    bool m_rtspStarted = false;
    bool m_onvifStarted = false;
    std::string m_badOption;
};
