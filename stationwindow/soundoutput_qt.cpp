#include "stationwindow/soundoutput_p.h"

#include <QSoundEffect>
#include <QUrl>

namespace {

class QtSoundOutput : public SoundOutput
{
public:
    QtSoundOutput()
    {
        m_problem.setSource(QUrl(QStringLiteral("qrc:/sounds/problem.wav")));
        m_allVerified.setSource(QUrl(QStringLiteral("qrc:/sounds/all-verified.wav")));
    }
    void play(int cue) override { (cue == 0 ? m_problem : m_allVerified).play(); }

private:
    QSoundEffect m_problem;
    QSoundEffect m_allVerified;
};

} // namespace

extern "C" Q_DECL_EXPORT SoundOutput *tempyraStationSoundOutput()
{
    return new QtSoundOutput;
}
