#pragma once

#include "record/audit.h"
#include "station/report.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// The commands that work on an audit record or on the station key rather than on loggers.

/// audit verify: checks the record's chain, and with trusted keys its signatures, and the heads
/// noted. 0 when every check holds, 1 when one does not, 2 when the record or a key cannot be
/// read.
int verifyRecord(const QString &path, const QStringList &trust, const QList<Audit::Head> &heads,
                 bool json);

/// audit repair: carries each line that cannot be read into the record, and puts back a last
/// line's missing newline. 0 repaired or nothing to repair, 2 trouble.
int repairRecord(const QString &path, const QString &keyPath, const QString &operatorName);

/// audit append-owed: appends the lines of a file of lines owed to the record. 0 appended (or
/// every line there already), 2 trouble (the file does not prove itself, or the record cannot
/// be written).
int appendOwedRecord(const QString &path, const QString &owedPath, const QString &keyPath,
                     const QStringList &trust, const QString &operatorName);

/// key new and key show: the station key at keyPath (the default one when empty).
int newKey(const QString &keyPath);
int showKey(const QString &keyPath);

/// report: the printable page of the record's writes in period, into output (standard output
/// when empty). 0 written, 1 written but the record does not verify, 2 trouble.
int writeReport(const QString &path, const Report::Options &options, const QString &output);
