#pragma once

#include <QObject>

#include <memory>

/// The station's two short sounds, from the program's resources: one when a logger is refused or
/// fails, one when every listed logger is verified. Played through Qt Multimedia on Linux and the
/// system's own playback on Windows; a computer without sound plays nothing, silently.
class Sound : public QObject
{
    Q_OBJECT

public:
    enum Cue { Problem, AllVerified };

    explicit Sound(QObject *parent = nullptr);
    ~Sound() override;

    void play(Cue cue);
    /// Loads the sounds and opens the sound output; done on the first play() otherwise. Setting
    /// up the output takes longer than building the window, so the window asks after its first
    /// frame.
    void prepare();
    void setMuted(bool muted) { m_muted = muted; }
    bool muted() const { return m_muted; }

signals:
    /// A cue was played (or would have been, by a computer with sound).
    void played(Cue cue);

private:
    struct Player;
    std::unique_ptr<Player> m_player;
    bool m_muted = false;
};
