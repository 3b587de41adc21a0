// Shows a stream player's pictures in a preview pane control. The player draws
// on its own thread straight into the pane's one image, under the pane's lock,
// and the pane posts a repaint to the GUI thread, so no widget is touched from
// there; the paint takes the same lock. The image follows the control's size
// under that lock, so the player never draws into an image of another size.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "movra.h"

class QLabel;
class QPainter;

namespace strevo {

class CPreviewPane : public QObject {
    Q_OBJECT
  public:
    // Paints over control (the pane's static control) while it has a picture.
    explicit CPreviewPane(QLabel* control);
    ~CPreviewPane() override;

    // The image to hand to MV_PlayInto.
    const MV_DrawTarget* Target() const { return &m_target; }
    // Forgets the picture once its player is closed: the control shows its own text again.
    void Clear();
    // The picture shown now (null when none), for tests.
    QImage Picture() const;
    // A line drawn over the picture (or over the control's own text when there
    // is none): the stream's state while it is not playing. Empty: none.
    void SetState(const QString& text);
    const QString& State() const { return m_state; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    static int32_t LockImage(void* user, MV_Image* image);
    static void UnlockImage(void* user, const MV_Picture* picture);
    void UpdateTargetSize(bool visible);
    void DrawState(QPainter& painter) const;

    QLabel* m_control;
    MV_DrawTarget m_target{};
    // The target size in device pixels; 0 while the control is hidden.
    std::atomic<int32_t> m_width{0};
    std::atomic<int32_t> m_height{0};
    mutable std::mutex m_mu;
    // Guarded by m_mu: the image the player draws into (rows padded to 16 bytes,
    // which suits the converter), and the size of the picture in it (empty: none).
    QImage m_picture;
    QSize m_shown;
    std::atomic<bool> m_posted{false};
    QString m_state;  // GUI thread only
};

}  // namespace strevo
