#include "CPaneStream.h"

#include "CPreviewPane.h"

namespace strevo {

CPaneStream::CPaneStream(std::unique_ptr<ICamera> camera, PanePlayerPort& port,
                         CPreviewPane* picture, int streamType, QObject* parent)
    : QObject(parent),
      m_camera(std::move(camera)),
      m_sink(port),
      m_picture(picture),
      m_session(*m_camera, streamType, m_sink, [this](StreamState state, int32_t value) {
          // The session's thread: only a queued call, dropped if this pane is gone.
          QMetaObject::invokeMethod(
              this, [this, state, value] { OnState(state, value); }, Qt::QueuedConnection);
      }) {}

CPaneStream::~CPaneStream() {
    m_session.Stop();
    m_picture->SetState(QString());
}

void CPaneStream::Start(bool opened) {
    m_played = m_played || opened;
    if (!opened)
        OnState(StreamState::kConnecting, 0);
    m_session.Start(opened);
}

QString CPaneStream::StateText(StreamState state, int32_t value) {
    switch (state) {
        case StreamState::kConnecting:
            return QStringLiteral("连接中…");
        case StreamState::kRetryWait:
            return QStringLiteral("已断开，%1 秒后重试").arg(value);
        case StreamState::kLoginFailed:
            return QStringLiteral("登录失败 错误码为%1").arg(value);
        case StreamState::kPlaying:
            break;
    }
    return QString();
}

void CPaneStream::OnState(StreamState state, int32_t value) {
    m_played = m_played || state == StreamState::kPlaying;
    m_picture->SetState(StateText(state, value));
    emit StateChanged();
}

}  // namespace strevo
