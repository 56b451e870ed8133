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
{ }

Sound::~Sound() = default;

void Sound::prepare()
{
    if (m_player)
        return;
    m_player.reset(new Player);
    m_player->problem.setSource(QUrl(QStringLiteral("qrc:/sounds/problem.wav")));
    m_player->allVerified.setSource(QUrl(QStringLiteral("qrc:/sounds/all-verified.wav")));
}

void Sound::play(Cue cue)
{
    if (m_muted)
        return;
    prepare();
    (cue == Problem ? m_player->problem : m_player->allVerified).play();
    emit played(cue);
}
