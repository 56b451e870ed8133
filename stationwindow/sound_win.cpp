#include "stationwindow/sound.h"

#include <QFile>

#include <windows.h>

#include <mmsystem.h>

// PlaySound plays a WAV file's bytes from memory, asynchronously; the bytes must stay in place
// while it plays, so both sounds are kept for the life of the program.
struct Sound::Player
{
    QByteArray problem;
    QByteArray allVerified;
};

namespace {

QByteArray wav(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

Sound::Sound(QObject *parent)
    : QObject(parent)
{ }

void Sound::prepare()
{
    if (!m_player)
        m_player.reset(new Player {wav(QStringLiteral(":/sounds/problem.wav")),
                                   wav(QStringLiteral(":/sounds/all-verified.wav"))});
}

Sound::~Sound()
{
    PlaySoundW(nullptr, nullptr, 0);
}

void Sound::play(Cue cue)
{
    if (m_muted)
        return;
    prepare();
    const QByteArray &bytes = cue == Problem ? m_player->problem : m_player->allVerified;
    if (!bytes.isEmpty())
        PlaySoundW(reinterpret_cast<LPCWSTR>(bytes.constData()), nullptr,
                   SND_MEMORY | SND_ASYNC | SND_NODEFAULT);
    emit played(cue);
}
