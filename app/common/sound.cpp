#include "sound.h"

#include <QAudioDevice>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace tavrelcut {

SoundPlayer::SoundPlayer(QObject* parent) : QObject(parent) {}

bool SoundPlayer::play(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isFile()) return false;
    if (QMediaDevices::audioOutputs().isEmpty()) return false;
    if (m_effect == nullptr) {
        m_effect = new QSoundEffect(this);
        connect(m_effect, &QSoundEffect::playingChanged, this, [this] {
            if (!m_effect->isPlaying()) emit finished();
        });
        connect(m_effect, &QSoundEffect::statusChanged, this, [this] {
            if (m_effect->status() == QSoundEffect::Error) emit finished();
        });
    }
    m_effect->setSource(QUrl::fromLocalFile(path));
    m_effect->setLoopCount(1);
    m_effect->play();
    return true;
}

}  // namespace tavrelcut
