#pragma once

#include "station/station.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// The choices of a write or a station run, as a person gives them on the command line or in the
// station window, and their checks: one set of rules and messages for every front. The messages
// name the command-line option, which the window shows beside its own field.
namespace Choices {

// Bounds of the numbers given to options: a sanity check, not a rule of the logger.
constexpr int kMostRetries = 20;
constexpr int kLongestSettleMs = 60000;
constexpr int kLongestOperator = 64; // as personNameProblem() has it
constexpr int kLongestReplyTimeoutMs = 10000;

/// What was given; an option not given is empty (std::nullopt where an empty value is a mistake).
struct Given
{
    QString profile; // a profile file
    QStringList settings; // KEY=VALUE, each over the profile
    std::optional<QString> operatorName; // the account's user when not given
    QString expect; // a shipment's list; none: every logger is written
    std::optional<QString> log; // the default record when not given
    QString key; // the default key, when there is one, when empty
    std::optional<QString> retries;
    std::optional<QString> settle;
    std::optional<QString> replyTimeout;
    bool verify = true;
};

/// A whole number from least to most, or fallback when not given; nothing, and error naming the
/// option, otherwise.
std::optional<int> number(const QString &option, const std::optional<QString> &given, int fallback,
                          int least, int most, QString *error);
/// --reply-timeout: the window's bound or longer.
std::optional<int> replyTimeout(const std::optional<QString> &given, QString *error);

/// The identifiers of a shipment's list file; error names the file.
std::optional<ExpectedList> expectedList(const QString &path, QString *error);

/// Every choice checked, the profile read and the record found usable, before any logger is
/// written; nothing, and error in the words tempyra-cli prints, at the first that is not.
std::optional<WriteOptions> writeOptions(const Given &given, QString *error);

/// The station key: the one named (which must be there), or the default one when there is one.
/// true with key unset when there is none; false, with error, when the key cannot be used.
bool stationKey(const QString &keyPath, std::shared_ptr<const StationKey> *key, QString *error);

/// What a run without a key tells once.
QString unsignedWarning();

} // namespace Choices
