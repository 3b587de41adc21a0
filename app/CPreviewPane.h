// Shows a stream player's pictures in a preview pane control. The player calls
// the render sink on its own thread; the sink only copies the picture and posts
// a repaint to the GUI thread, so no widget is touched from there. One image per
// pane: the copy and the paint take turns under the pane's lock (each is a plain
// copy of a pane-sized image), rather than keeping a second image to swap in.
#pragma once

#include <QImage>
#include <QObject>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "movra.h"

class QLabel;

namespace strevo {

class CPreviewPane : public QObject {
    Q_OBJECT
  public:
    // Paints over control (the pane's static control) while it has a picture.
    explicit CPreviewPane(QLabel* control);
    ~CPreviewPane() override;

    // The render target to hand to MV_PlayEx.
    const MV_RenderSink* Sink() const { return &m_sink; }
    // Forgets the picture once its player is closed: the control shows its own text again.
    void Clear();
    // The picture shown now (null when none), for tests.
    QImage Picture() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    static void SinkSize(void* user, int32_t* width, int32_t* height);
    static void SinkPresent(void* user, const MV_Picture* picture);
    void UpdateTargetSize(bool visible);

    QLabel* m_control;
    MV_RenderSink m_sink{};
    // The target size in device pixels; 0 while the control is hidden.
    std::atomic<int32_t> m_width{0};
    std::atomic<int32_t> m_height{0};
    mutable std::mutex m_mu;
    QImage m_picture;  // guarded by m_mu: the newest picture
    std::atomic<bool> m_posted{false};
};

}  // namespace strevo
