#pragma once

#include "station/station.h"

#include "device/loggerconfig.h"

#include <QString>

// What the station window says, without widgets: the profile as a sentence, and where a logger
// stands as a tile shows it, in words a person reads from across the bench.
namespace StationText {

/// "2–8 °C, alarm on · log every 10 min · start after 30 min · UTC+05:30 · PDF".
QString profileSentence(const LoggerConfig &config);

/// Where a logger stands.
enum class State {
    Waiting, // listed, not plugged in yet
    Writing,
    Checking, // read back
    Verified,
    Mismatch,
    Failed,
    Refused, // not on the list
    NotRecorded, // written, its line not in the record yet
};

/// The state's word on the tile: "waiting", "writing", "verified", ...
QString word(State state);

/// A tile's state and the line under its word.
struct View
{
    State state = State::Waiting;
    QString detail;
};

/// How an attempt's end shows: verified with the time it was set, a mismatch with what differed,
/// a failure with why and what follows ("plug it in again"), refused, or written and not recorded.
/// retries is the station's number of further attempts.
View attemptView(const Attempt &attempt, int retries);

/// What a screen reader says of a tile: "TL-0003 mismatch: interval 00:10 written, 00:11 read
/// back".
QString spoken(const QString &logger, const View &view);

} // namespace StationText
