#pragma once

#include <QJsonObject>
#include <QString>

// The audit record: one JSON line per configuration write, appended to a file that is never
// truncated. Each line goes out in a single write to a file opened for appending, so lines of
// programs writing at the same time do not mix.
namespace Audit {

/// audit.jsonl in the user's application data folder.
QString defaultPath();

/// True when path can be opened for appending, its folder created if need be; checked before
/// any logger is written, so that no write goes unrecorded.
bool usable(const QString &path, QString *error);

/// Stamps record with the UTC time, the host name and the user, and appends it as one line.
bool append(const QString &path, QJsonObject &record, QString *error);

} // namespace Audit
