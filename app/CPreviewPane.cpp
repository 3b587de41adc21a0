#include "CPreviewPane.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <algorithm>

namespace strevo {

CPreviewPane::CPreviewPane(QLabel* control) : QObject(control), m_control(control) {
    m_target.user = this;
    m_target.lock = &CPreviewPane::LockImage;
    m_target.unlock = &CPreviewPane::UnlockImage;
    control->installEventFilter(this);
    UpdateTargetSize(control->isVisible());
}

CPreviewPane::~CPreviewPane() = default;

int32_t CPreviewPane::LockImage(void* user, MV_Image* image) {
    auto* self = static_cast<CPreviewPane*>(user);
    std::unique_lock<std::mutex> lock(self->m_mu);
    // The size is taken under the lock and the image made to fit it here, so a
    // resize between pictures can only change what the next picture gets.
    const int32_t width = self->m_width.load();
    const int32_t height = self->m_height.load();
    if (width <= 0 || height <= 0)
        return 0;  // hidden
    const int32_t padded = (width + 3) & ~3;
    QImage& picture = self->m_picture;
    if (picture.width() != padded || picture.height() != height) {
        picture = QImage(padded, height, QImage::Format_RGB32);
        self->m_shown = QSize();
        if (picture.isNull())
            return 0;  // out of memory: skip this picture
    }
    image->pixels = reinterpret_cast<uint32_t*>(picture.bits());
    image->width = width;
    image->height = height;
    image->stride = static_cast<int32_t>(picture.bytesPerLine());
    lock.release();  // held until UnlockImage
    return 1;
}

void CPreviewPane::UnlockImage(void* user, const MV_Picture* picture) {
    auto* self = static_cast<CPreviewPane*>(user);
    if (picture)
        self->m_shown = QSize(picture->width, picture->height);
    self->m_mu.unlock();
    if (!picture)
        return;
    // One repaint request in flight at most; the paint takes the newest picture.
    if (!self->m_posted.exchange(true))
        QMetaObject::invokeMethod(
            self,
            [self] {
                self->m_posted.store(false);
                self->m_control->update();
            },
            Qt::QueuedConnection);
}

QImage CPreviewPane::Picture() const {
    std::lock_guard<std::mutex> lock(m_mu);
    if (m_shown.isEmpty())
        return QImage();
    return m_picture.copy(QRect(QPoint(0, 0), m_shown));
}

void CPreviewPane::Clear() {
    {
        std::lock_guard<std::mutex> lock(m_mu);
        m_picture = QImage();
        m_shown = QSize();
    }
    m_control->update();
}

void CPreviewPane::SetState(const QString& text) {
    if (text == m_state)
        return;
    m_state = text;
    m_control->update();
}

void CPreviewPane::DrawState(QPainter& painter) const {
    if (m_state.isEmpty())
        return;
    // A band across the middle, so the text reads on any picture.
    QFont font = m_control->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.3);
    painter.setFont(font);
    const int height = painter.fontMetrics().height() * 2;
    const QRect band(0, (m_control->height() - height) / 2, m_control->width(), height);
    painter.fillRect(band, QColor(0, 0, 0, 170));
    painter.setPen(Qt::white);
    painter.drawText(band, Qt::AlignCenter, m_state);
}

void CPreviewPane::UpdateTargetSize(bool visible) {
    const qreal ratio = m_control->devicePixelRatioF();
    m_width.store(visible ? static_cast<int32_t>(m_control->width() * ratio) : 0);
    m_height.store(visible ? static_cast<int32_t>(m_control->height() * ratio) : 0);
}

bool CPreviewPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_control)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::Paint: {
            std::unique_lock<std::mutex> lock(m_mu);
            if (m_shown.isEmpty()) {
                lock.unlock();
                if (m_state.isEmpty())
                    break;  // the control's own text
                // No picture yet (connecting, or the first open failed).
                QPainter painter(m_control);
                painter.fillRect(m_control->rect(), Qt::black);
                DrawState(painter);
                return true;
            }
            QPainter painter(m_control);
            painter.drawImage(m_control->rect(), m_picture, QRect(QPoint(0, 0), m_shown));
            lock.unlock();
            DrawState(painter);
            return true;
        }
        case QEvent::Resize:
            UpdateTargetSize(m_control->isVisible());
            break;
        case QEvent::Show:
            UpdateTargetSize(true);
            break;
        case QEvent::Hide:
            UpdateTargetSize(false);
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace strevo
