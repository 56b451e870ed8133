#pragma once

// The sound output of the Linux build, a module of its own (tempyra-station-sound) that the
// window loads after its first frame: Qt Multimedia brings some thirty libraries (PulseAudio,
// codecs, Qt Network), whose loading would otherwise come before anything is shown.
class SoundOutput
{
public:
    virtual ~SoundOutput() = default;
    /// 0: a logger refused or failed; 1: every listed logger verified.
    virtual void play(int cue) = 0;
};

/// The module's one entry point, looked up by name.
using SoundOutputMaker = SoundOutput *(*)();
#define TEMPYRA_SOUND_OUTPUT_MAKER "tempyraStationSoundOutput"
