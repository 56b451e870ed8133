#pragma once

#include "report.h"

#include <QString>

// The commands that work on an audit record rather than on loggers.

/// audit verify: checks the record's chain. 0 whole, 1 broken or not chained, 2 unreadable.
int verifyRecord(const QString &path, bool json);

/// report: the printable page of the record's writes in period, into output (standard output
/// when empty). 0 written, 1 written but the record's chain is not whole, 2 trouble.
int writeReport(const QString &path, const Report::Period &period, const QString &output);
