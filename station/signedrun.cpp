#include "station/signedrun.h"

#include "station/approval.h"

#include <algorithm>

bool prepareSignedRun(WriteOptions &options, const SignedRun &run, QString *error)
{
    if (run.person) {
        if (!options.operatorName.isEmpty() && options.operatorName != run.person->name()) {
            *error = QStringLiteral("--operator %1 is not the name of the key signed in with "
                                    "(%2): an operator signs in as themselves")
                         .arg(options.operatorName, run.person->name());
            return false;
        }
        options.operatorName = run.person->name();
        options.person = run.person;
    }
    if (!run.requireApproved)
        return true;
    if (!run.trusted) {
        *error = QStringLiteral("--require-approved: give the team file with --trust, which names "
                                "the approvers");
        return false;
    }
    if (run.overridden) {
        *error = QStringLiteral("--require-approved: --set would write something other than the "
                                "approved profile");
        return false;
    }
    const std::optional<QJsonObject> approval = Approval::check(
        run.profilePath, *run.trusted, run.person ? run.person->fingerprint() : QByteArray(),
        options.operatorName, error);
    if (!approval)
        return false;
    options.profile = *approval;
    return true;
}

QString personNameProblem(const QString &name)
{
    constexpr int kLongestName = 64;
    if (name.contains(QLatin1Char('\n')) || name.contains(QLatin1Char('\r')))
        return QStringLiteral("a name is one line");
    if (name.isEmpty() || name.size() > kLongestName)
        return QStringLiteral("a name of 1 to %1 characters").arg(kLongestName);
    if (std::any_of(name.cbegin(), name.cend(), [](QChar c) {
            return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
        }))
        return QStringLiteral("a name without control characters");
    return {};
}
