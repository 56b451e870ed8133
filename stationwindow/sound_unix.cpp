#include "stationwindow/sound.h"

#include <QSoundEffect>
#include <QUrl>

struct Sound::Player
{
    QSoundEffect problem;
    QSoundEffect allVerified;
};

Sound::Sound(QObject *parent)
    : QObject(parent)
    , m_player(new Player)
{
    m_player->problem.setSource(QUrl(QStringLiteral("qrc:/sounds/problem.wav")));
    m_player->allVerified.setSource(QUrl(QStringLiteral("qrc:/sounds/all-verified.wav")));
}

Sound::~Sound() = default;

void Sound::play(Cue cue)
{
    if (m_muted)
        return;
    (cue == Problem ? m_player->problem : m_player->allVerified).play();
    emit played(cue);
}
