#pragma once

#include "record/personkey.h"
#include "record/trust.h"

#include <QJsonObject>
#include <QString>

#include <optional>

// A profile's approval: a person with the approver role signs the profile's exact bytes, in a
// file beside it (PROFILE.approval):
//   # tempyra-cli profile approval of cold-chain.json by Ana Lima
//   profile-sha256 <the SHA-256 of the profile's bytes, hex>
//   approver <the approver's fingerprint>
//   name Ana Lima
//   time 2026-12-07T07:00:00.000Z
//   signature <Ed25519 of message(), base64>
// A station that requires approved profiles writes none that lacks one, that was changed after
// it, that was approved by a key not trusted as approver, or by the operator who runs it.
namespace Approval {

QString pathFor(const QString &profile);

/// Writes the approval of the profile at path by key; nothing, with error, when the profile
/// cannot be read or the approval written.
bool write(const QString &profile, const PersonKey &key, QString *error);

/// The approval of the profile at path, checked against trusted (who must hold the approver role
/// now) and the operator running it (fingerprint, or the name typed): what each attempt line
/// says of the profile ({"sha256", "approver"}), or nothing, with error.
std::optional<QJsonObject> check(const QString &profile, const Trust::Keys &trusted,
                                 const QByteArray &operatorKey, const QString &operatorName,
                                 QString *error);

} // namespace Approval
