#include "stationwindow/sound.h"
#include "stationwindow/soundoutput_p.h"

#include <QCoreApplication>
#include <QLibrary>

#include <memory>

struct Sound::Player
{
    std::unique_ptr<SoundOutput> output; // none where the module or the output is missing
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
    // Beside the program in a build, in the package's library folder once installed.
    const QString folder = QCoreApplication::applicationDirPath();
    for (const QString &path :
         {folder + QStringLiteral("/../lib/tempyra-station/tempyra-station-sound"),
          folder + QStringLiteral("/tempyra-station-sound")}) {
        const auto make = reinterpret_cast<SoundOutputMaker>(
            QLibrary::resolve(path, TEMPYRA_SOUND_OUTPUT_MAKER));
        if (make) {
            m_player->output.reset(make());
            return;
        }
    }
}

void Sound::play(Cue cue)
{
    if (m_muted)
        return;
    prepare();
    if (m_player->output)
        m_player->output->play(cue == Problem ? 0 : 1);
    emit played(cue);
}
