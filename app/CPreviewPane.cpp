#include "CPreviewPane.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <algorithm>
#include <cstring>

namespace strevo {

CPreviewPane::CPreviewPane(QLabel* control) : QObject(control), m_control(control) {
    m_sink.user = this;
    m_sink.size = &CPreviewPane::SinkSize;
    m_sink.present = &CPreviewPane::SinkPresent;
    control->installEventFilter(this);
    UpdateTargetSize(control->isVisible());
}

CPreviewPane::~CPreviewPane() = default;

void CPreviewPane::SinkSize(void* user, int32_t* width, int32_t* height) {
    auto* self = static_cast<CPreviewPane*>(user);
    *width = self->m_width.load();
    *height = self->m_height.load();
}

void CPreviewPane::SinkPresent(void* user, const MV_Picture* picture) {
    auto* self = static_cast<CPreviewPane*>(user);
    if (!picture || !picture->pixels || picture->width <= 0 || picture->height <= 0)
        return;
    {
        std::lock_guard<std::mutex> lock(self->m_mu);
        QImage& image = self->m_picture;
        if (image.width() != picture->width || image.height() != picture->height)
            image = QImage(picture->width, picture->height, QImage::Format_RGB32);
        if (image.isNull())
            return;  // out of memory: skip this picture
        const auto* src = reinterpret_cast<const uint8_t*>(picture->pixels);
        const size_t rowBytes = static_cast<size_t>(picture->width) * 4;
        for (int y = 0; y < picture->height; ++y)
            std::memcpy(image.scanLine(y), src + static_cast<ptrdiff_t>(y) * picture->stride,
                        rowBytes);
    }
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
    return m_picture;
}

void CPreviewPane::Clear() {
    {
        std::lock_guard<std::mutex> lock(m_mu);
        m_picture = QImage();
    }
    m_control->update();
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
            std::lock_guard<std::mutex> lock(m_mu);
            if (m_picture.isNull())
                break;  // the control's own text
            QPainter painter(m_control);
            painter.drawImage(m_control->rect(), m_picture);
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
