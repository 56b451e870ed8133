#pragma once

#include "station/station.h"

#include "record/trust.h"

#include <memory>
#include <optional>

/// What a run is signed with: the operator's key, opened already, and whether its profile must
/// be approved by a trusted approver who is not that operator.
struct SignedRun
{
    std::shared_ptr<const PersonKey> person;
    bool requireApproved = false;
    std::optional<Trust::Keys> trusted;
    QString profilePath;
    bool overridden = false; // keys of the profile set anew for this run
};

/// Checks a run's people before any logger is written, as tempyra-cli and the station window
/// both do: the operator named agrees with their key's name (which becomes the operator), and
/// an approved profile is required only of one written as approved. Fills options.person and
/// options.profile; false, with error, when the run must not start.
bool prepareSignedRun(WriteOptions &options, const SignedRun &run, QString *error);

/// Why name is no person's name as the record gives it ("a name without control characters"),
/// or empty: one line of 1 to 64 characters, none of them a control character.
QString personNameProblem(const QString &name);
