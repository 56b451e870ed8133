#include "record/secret_p.h"

#include "record/files.h"

#include <QDir>
#include <QFile>

#include <sodium.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

SecretBytes::SecretBytes(int capacity)
    : m_capacity(capacity)
{
    if (sodium_init() < 0)
        std::abort();
    m_data = static_cast<unsigned char *>(sodium_malloc(size_t(qMax(1, capacity))));
    if (!m_data)
        std::abort();
}

SecretBytes::SecretBytes(SecretBytes &&other) noexcept
    : m_data(other.m_data)
    , m_size(other.m_size)
    , m_capacity(other.m_capacity)
{
    other.m_data = nullptr;
    other.m_size = other.m_capacity = 0;
}

SecretBytes &SecretBytes::operator=(SecretBytes &&other) noexcept
{
    std::swap(m_data, other.m_data);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
    return *this;
}

SecretBytes::~SecretBytes()
{
    sodium_free(m_data); // wipes it
}

bool SecretBytes::operator==(const SecretBytes &other) const
{
    return m_size == other.m_size && sodium_memcmp(m_data, other.m_data, size_t(m_size)) == 0;
}

std::optional<SecretBytes> Passphrase::fromFile(const QString &path, QString *error)
{
    const QString name = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = QStringLiteral("--passphrase-file %1: %2").arg(name, file.errorString());
        return std::nullopt;
    }
    if (!Files::isOwnerOnly(path)) {
        *error = QStringLiteral("--passphrase-file %1 can be read by other accounts; make it "
                                "private (chmod 600 %1)")
                     .arg(name);
        return std::nullopt;
    }
    SecretBytes secret(kLongest + 2);
    const qint64 read = file.read(reinterpret_cast<char *>(secret.data()), secret.capacity());
    int size = 0;
    while (size < read && secret.data()[size] != '\n' && secret.data()[size] != '\r')
        ++size;
    if (read < 0 || size > kLongest || size == 0) {
        *error = QStringLiteral("--passphrase-file %1: %2")
                     .arg(name,
                          read < 0        ? file.errorString()
                              : size == 0 ? QStringLiteral("its first line is empty")
                                          : QStringLiteral("longer than %1 bytes").arg(kLongest));
        return std::nullopt;
    }
    secret.resize(size);
    return secret;
}

std::optional<SecretBytes> Passphrase::ask(const QString &prompt, bool confirm, QString *error)
{
    if (!terminalThere()) {
        *error = QStringLiteral("no terminal to ask the passphrase on; give it with "
                                "--passphrase-file FILE");
        return std::nullopt;
    }
    std::fprintf(stderr, "%s: ", qPrintable(prompt));
    std::fflush(stderr);
    std::optional<SecretBytes> first = readHiddenLine();
    if (!first || first->size() == 0 || first->size() > kLongest) {
        *error = !first || first->size() == 0
            ? QStringLiteral("no passphrase given")
            : QStringLiteral("a passphrase is at most %1 bytes").arg(kLongest);
        return std::nullopt;
    }
    if (!confirm)
        return first;
    std::fprintf(stderr, "%s again: ", qPrintable(prompt));
    std::fflush(stderr);
    const std::optional<SecretBytes> second = readHiddenLine();
    if (!second || !(*first == *second)) {
        *error = QStringLiteral("the two passphrases differ");
        return std::nullopt;
    }
    return first;
}
