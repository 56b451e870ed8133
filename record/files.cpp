#include "record/files.h"

#include <QFile>

namespace {

// "64 MB", "1 GB": a limit as the messages give it, in units of 1024.
QString sizeText(qint64 bytes)
{
    if (bytes >= 1 << 30 && bytes % (1 << 30) == 0)
        return QStringLiteral("%1 GB").arg(bytes >> 30);
    if (bytes >= 1 << 20 && bytes % (1 << 20) == 0)
        return QStringLiteral("%1 MB").arg(bytes >> 20);
    return QStringLiteral("%1 bytes").arg(bytes);
}

} // namespace

std::optional<QByteArray> Files::readAtMost(const QString &path, qint64 limit,
                                            const QString &limitText, QString *error)
{
    const QString tooLarge = QStringLiteral("larger than %1, %2").arg(sizeText(limit), limitText);
    // Unbuffered: QFile would read ahead of what is asked, past the limit.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return std::nullopt;
    }
    const bool regular = !file.isSequential();
    if (regular && file.size() > limit) {
        *error = tooLarge;
        return std::nullopt;
    }
    // A regular file is read to the size it had, a pipe or a device to a byte past the limit.
    const qint64 most = regular ? file.size() : limit + 1;
    QByteArray bytes;
    if (regular)
        bytes.reserve(int(most));
    constexpr qint64 kPiece = 1 << 16;
    while (bytes.size() < most) {
        const int had = bytes.size();
        const qint64 wanted = qMin(kPiece, most - had);
        bytes.resize(had + int(wanted));
        const qint64 got = file.read(bytes.data() + had, wanted);
        if (got < 0) {
            *error = file.errorString();
            return std::nullopt;
        }
        bytes.resize(had + int(got));
        if (got == 0)
            break;
    }
    if (bytes.size() > limit) {
        *error = tooLarge;
        return std::nullopt;
    }
    return bytes;
}
