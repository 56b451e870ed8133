#include "station/choices.h"

#include "station/profile.h"
#include "station/signedrun.h"

#include "device/loggerprotocol.h"
#include "record/audit.h"
#include "record/files.h"

#include <QFileInfo>

namespace Choices {

std::optional<int> number(const QString &option, const std::optional<QString> &given, int fallback,
                          int least, int most, QString *error)
{
    if (!given)
        return fallback;
    bool ok = false;
    const int value = given->toInt(&ok);
    if (ok && value >= least && value <= most)
        return value;
    *error = QStringLiteral("--%1: a whole number from %2 to %3").arg(option).arg(least).arg(most);
    return std::nullopt;
}

std::optional<int> replyTimeout(const std::optional<QString> &given, QString *error)
{
    return number(QStringLiteral("reply-timeout"), given, LoggerProtocol::kReplyTimeoutMs,
                  LoggerProtocol::kReplyTimeoutMs, kLongestReplyTimeoutMs, error);
}

std::optional<ExpectedList> expectedList(const QString &path, QString *error)
{
    const std::optional<QByteArray> text = Files::readAtMost(
        path, ExpectedList::kLargestList, QStringLiteral("the most a list may be"), error);
    std::optional<ExpectedList> expected;
    if (text)
        expected = ExpectedList::parse(*text, error);
    if (!expected)
        *error = QStringLiteral("--expect %1: %2").arg(path, *error);
    return expected;
}

std::optional<WriteOptions> writeOptions(const Given &given, QString *error)
{
    WriteOptions options;
    QJsonObject held;
    std::optional<QJsonObject> loaded = Profile::load(given.profile, error, &held);
    for (const QString &setting : given.settings)
        if (loaded && !Profile::set(*loaded, setting, error))
            loaded.reset();
    const std::optional<LoggerConfig> config
        = loaded ? Profile::toConfig(*loaded, error, held) : std::nullopt;
    const std::optional<int> retries
        = number(QStringLiteral("retries"), given.retries, 1, 0, kMostRetries, error);
    const std::optional<int> settle
        = number(QStringLiteral("settle"), given.settle, 0, 0, kLongestSettleMs, error);
    const std::optional<int> timeout = replyTimeout(given.replyTimeout, error);
    if (!config || !retries || !settle || !timeout)
        return std::nullopt;
    options.replyTimeoutMs = *timeout;
    options.config = *config;
    options.retries = *retries;
    options.settleMs = *settle;
    options.verify = given.verify;

    if (given.operatorName) {
        options.operatorName = given.operatorName->trimmed();
        const QString problem = personNameProblem(options.operatorName);
        if (!problem.isEmpty()) {
            *error = QStringLiteral("--operator: ") + problem;
            return std::nullopt;
        }
    }

    if (!given.expect.isEmpty()) {
        const std::optional<ExpectedList> expected = expectedList(given.expect, error);
        if (!expected)
            return std::nullopt;
        options.expected = *expected;
    }

    // An empty --log is a mistake, not a wish for the default record.
    const bool defaultLog = !given.log;
    options.auditPath = defaultLog ? Audit::defaultPath() : *given.log;
    if (options.auditPath.isEmpty()) {
        *error = QStringLiteral("--log: no file named");
        return std::nullopt;
    }
    const std::optional<Audit::Usable> record = Audit::usable(options.auditPath, defaultLog, error);
    if (!record)
        return std::nullopt;
    options.record = *record;
    if (!stationKey(given.key, &options.key, error))
        return std::nullopt;
    return options;
}

bool stationKey(const QString &keyPath, std::shared_ptr<const StationKey> *key, QString *error)
{
    const QString path = keyPath.isEmpty() ? Audit::defaultKeyPath() : keyPath;
    key->reset();
    if (keyPath.isEmpty() && !QFileInfo::exists(path))
        return true;
    std::optional<StationKey> loaded = StationKey::load(path, error);
    if (loaded)
        *key = std::make_shared<const StationKey>(std::move(*loaded));
    return loaded.has_value();
}

QString unsignedWarning()
{
    return QStringLiteral("no station key (\"tempyra-cli key new\" makes one): the audit lines "
                          "of this run are unsigned, and anyone who can edit the record can "
                          "rewrite them unnoticed");
}

} // namespace Choices
