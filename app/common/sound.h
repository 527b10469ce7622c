// The completion sound of a cut: a wave file played once. Nothing happens
// when there is no audio output or the file cannot be played.
#pragma once

#include <QObject>
#include <QString>

class QSoundEffect;

namespace tavrelcut {

class SoundPlayer : public QObject {
    Q_OBJECT
public:
    explicit SoundPlayer(QObject* parent = nullptr);
    // Starts the sound; false when nothing will play (finished is then not
    // emitted).
    bool play(const QString& path);

signals:
    void finished();

private:
    QSoundEffect* m_effect = nullptr;
};

}  // namespace tavrelcut
