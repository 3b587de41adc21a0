// A pane's camera while the pane shows it: the camera, the session that keeps
// its stream going, and the state the session reports, drawn over the pane's
// picture on the GUI thread.
#pragma once

#include <QObject>
#include <memory>

#include "Camera.h"
#include "StreamSession.h"

namespace strevo {

class CPreviewPane;
class PanePlayerPort;

class CPaneStream : public QObject {
    Q_OBJECT
  public:
    CPaneStream(std::unique_ptr<ICamera> camera, PanePlayerPort& port, CPreviewPane* picture,
                int streamType, QObject* parent = nullptr);
    // Stops the retries and closes the stream before it goes.
    ~CPaneStream() override;

    ICamera& Camera() const { return *m_camera; }
    // The first open, on the calling thread (its failure is the caller's to show).
    StreamOpenResult OpenNow() { return m_session.OpenNow(); }
    // Keeps the stream going from now on (opened: OpenNow succeeded).
    void Start(bool opened);
    // Whether the stream has played since the pane took the camera: from then
    // on the camera's capabilities are known and it has been reachable.
    bool HasPlayed() const { return m_played; }

    // The operator's texts for the states.
    static QString StateText(StreamState state, int32_t value);

  signals:
    // The state changed (GUI thread); the camera's control handle may have too.
    void StateChanged();

  private:
    void OnState(StreamState state, int32_t value);

    std::unique_ptr<ICamera> m_camera;
    PaneStreamSink m_sink;
    CPreviewPane* m_picture;
    StreamSession m_session;
    bool m_played = false;
};

}  // namespace strevo
