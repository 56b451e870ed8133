#include "recordcommands.h"

#include "audit.h"
#include "commands.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

const char *const kResults[] = {"whole", "broken", "unchained"};

QString verdict(const Audit::Verification &check)
{
    switch (check.result) {
    case Audit::Verification::Whole:
        return check.unchained == 0
            ? QStringLiteral("the chain of its %1 lines is whole").arg(check.lines)
            : QStringLiteral("the chain is whole from line %1 to line %2; lines 1 to %3 were "
                             "written before the record was chained and are not covered")
                  .arg(check.unchained + 1)
                  .arg(check.lines)
                  .arg(check.unchained);
    case Audit::Verification::Unchained:
        return QStringLiteral("not chained: its %1 lines were written before lines were chained, "
                              "so it cannot be verified")
            .arg(check.lines);
    case Audit::Verification::Broken:
        break;
    }
    return QStringLiteral("line %1 %2").arg(check.line).arg(check.problem);
}

} // namespace

int verifyRecord(const QString &path, bool json)
{
    QString error;
    const std::optional<Audit::Verification> check = Audit::verifyFile(path, &error);
    if (!check) {
        standardError() << "tempyra-cli: " << error << Qt::endl;
        return kExitUsage;
    }
    if (json) {
        QJsonObject result {{QStringLiteral("record"), path},
                            {QStringLiteral("result"), QLatin1String(kResults[check->result])},
                            {QStringLiteral("lines"), check->lines},
                            {QStringLiteral("unchained"), check->unchained},
                            {QStringLiteral("lastHash"), QString::fromLatin1(check->lastHash)}};
        if (check->result == Audit::Verification::Broken) {
            result.insert(QStringLiteral("line"), check->line);
            result.insert(QStringLiteral("problem"), check->problem);
        }
        standardOutput() << QJsonDocument(result).toJson() << Qt::flush;
    } else {
        standardOutput() << path << ": " << verdict(*check) << Qt::endl;
        if (check->result == Audit::Verification::Whole)
            standardOutput() << "last line's hash: " << check->lastHash << Qt::endl;
    }
    return check->result == Audit::Verification::Whole ? kExitDone : kExitFailed;
}

int writeReport(const QString &path, const Report::Period &period, const QString &output)
{
    QString error;
    QList<QJsonObject> lines;
    const std::optional<Audit::Verification> check = Audit::verifyFile(path, &error, &lines);
    if (!check) {
        standardError() << "tempyra-cli: " << error << Qt::endl;
        return kExitUsage;
    }
    const QByteArray page
        = Report::html(lines, *check, path, period, QDateTime::currentDateTime()).toUtf8();
    if (output.isEmpty()) {
        // The page's bytes as they are, UTF-8 whatever the locale's encoding.
        standardOutput().flush();
        QFile file;
        if (!file.open(stdout, QIODevice::WriteOnly) || file.write(page) != page.size()) {
            standardError() << "tempyra-cli: cannot write the report: " << file.errorString()
                            << Qt::endl;
            return kExitUsage;
        }
    } else {
        QSaveFile file(output);
        if (!file.open(QIODevice::WriteOnly) || file.write(page) != page.size() || !file.commit()) {
            standardError() << "tempyra-cli: cannot write " << output << ": " << file.errorString()
                            << Qt::endl;
            return kExitUsage;
        }
    }
    if (check->result == Audit::Verification::Whole)
        return kExitDone;
    standardError() << "tempyra-cli: " << path << ": " << verdict(*check) << Qt::endl;
    return kExitFailed;
}
