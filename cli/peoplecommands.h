#pragma once

#include "record/personkey.h"

#include <QString>

#include <memory>

// The commands of people: their keys, the team file that trusts them, a reviewer's sign-off and
// a profile's approval.

/// The person's key at keyPath (the default one when empty), opened with the passphrase of
/// passphraseFile, or asked on the terminal; nothing, with error, when it cannot be opened.
std::shared_ptr<const PersonKey> openPersonKey(const QString &keyPath,
                                               const QString &passphraseFile, QString *error);

/// person new and person show.
int newPerson(const QString &name, const QString &keyPath, const QString &passphraseFile);
int showPerson(const QString &keyPath);

/// trust add, revoke and list: the team file at team.
int trustAdd(const QString &team, const QString &keyFile, const QString &role, const QString &from,
             const QString &until);
int trustRevoke(const QString &team, const QString &fingerprint, const QString &since);
int trustList(const QString &team);

/// audit sign-off: a person's sign-off of the record up to its head, or up to head.
int signOff(const QString &record, const QString &keyPath, const QString &passphraseFile,
            const QString &meaning, const QString &reason, const QString &head);

/// profile approve: writes PROFILE.approval.
int approveProfile(const QString &profile, const QString &keyPath, const QString &passphraseFile);
