#include "record/personkey.h"

#include "record/files.h"
#include "record/trust.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <sodium.h>

#include <cstring>

namespace {

// About half a second here for a key unlocked once a run: each guess at a stolen file's
// passphrase costs as much, and 256 MiB.
constexpr unsigned long long kOpsLimit = crypto_pwhash_OPSLIMIT_MODERATE;
constexpr size_t kMemLimit = crypto_pwhash_MEMLIMIT_MODERATE;
// What a file may ask for at most: a file that asks for more is not whole.
constexpr unsigned long long kMostOps = 16;
constexpr size_t kMostMem = size_t(1) << 30;
constexpr int kLargestFile = 1 << 14;

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The lines of a key file by their first word.
struct Fields
{
    QByteArray comment;
    QByteArray publicKey;
    QString name;
    QByteArray nameSignature;
    QList<QByteArray> argon; // opslimit, memlimit, salt
    QList<QByteArray> sealed; // nonce, box
};

Fields fields(const QByteArray &text)
{
    Fields found;
    for (const QByteArray &raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        const QByteArray rest = line.mid(line.indexOf(' ') + 1);
        if (line.startsWith('#') && found.comment.isEmpty())
            found.comment = line;
        else if (line.startsWith("ed25519 "))
            found.publicKey = QByteArray::fromBase64(rest);
        else if (line.startsWith("name "))
            found.name = QString::fromUtf8(rest);
        else if (line.startsWith("name-signature "))
            found.nameSignature = QByteArray::fromBase64(rest);
        else if (line.startsWith("argon2id "))
            found.argon = rest.split(' ');
        else if (line.startsWith("sealed "))
            found.sealed = rest.split(' ');
    }
    return found;
}

// The key that seals the secret, from the passphrase.
bool sealingKey(unsigned char *key, const SecretBytes &passphrase, const QByteArray &salt,
                unsigned long long ops, size_t mem)
{
    return salt.size() == crypto_pwhash_SALTBYTES
        && crypto_pwhash(
               key, crypto_secretbox_KEYBYTES, reinterpret_cast<const char *>(passphrase.data()),
               size_t(passphrase.size()), reinterpret_cast<const unsigned char *>(salt.constData()),
               ops, mem, crypto_pwhash_ALG_ARGON2ID13)
        == 0;
}

} // namespace

QString PersonKey::defaultPath()
{
    return native(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                  + QStringLiteral("/person.key"));
}

std::optional<PersonKey> PersonKey::create(const QString &path, const QString &name,
                                           const SecretBytes &passphrase, const QString &comment,
                                           QString *error)
{
    PersonKey key;
    if (!key.generate()) {
        *error = QStringLiteral("cannot make a key pair");
        return std::nullopt;
    }
    key.m_name = name;
    key.m_comment = comment;
    QByteArray salt(crypto_pwhash_SALTBYTES, '\0');
    QByteArray nonce(crypto_secretbox_NONCEBYTES, '\0');
    randombytes_buf(salt.data(), size_t(salt.size()));
    randombytes_buf(nonce.data(), size_t(nonce.size()));
    SecretBytes sealing(crypto_secretbox_KEYBYTES);
    if (!sealingKey(sealing.data(), passphrase, salt, kOpsLimit, kMemLimit)) {
        *error = QStringLiteral("cannot seal the key: too little memory for its passphrase");
        return std::nullopt;
    }
    QByteArray box(crypto_secretbox_MACBYTES + crypto_sign_SECRETKEYBYTES, '\0');
    crypto_secretbox_easy(
        reinterpret_cast<unsigned char *>(box.data()), key.secret(), crypto_sign_SECRETKEYBYTES,
        reinterpret_cast<const unsigned char *>(nonce.constData()), sealing.data());
    const QByteArray file = key.publicKeyFile() + "argon2id " + QByteArray::number(kOpsLimit) + ' '
        + QByteArray::number(quint64(kMemLimit)) + ' ' + salt.toBase64() + '\n' + "sealed "
        + nonce.toBase64() + ' ' + box.toBase64() + '\n';
    if (!Files::writeOwnerOnly(path, file, error))
        return std::nullopt;
    return key;
}

std::optional<PersonKey> PersonKey::unlock(const QString &path, const SecretBytes &passphrase,
                                           QString *error)
{
    if (!Files::isOwnerOnly(path)) {
        *error = QStringLiteral("the person key %1 can be read by other accounts; make it "
                                "private (chmod 600 %1)")
                     .arg(native(path));
        return std::nullopt;
    }
    const std::optional<QByteArray> text = Files::readAtMost(
        path, kLargestFile, QStringLiteral("the most a key file may be"), error);
    if (!text) {
        *error = QStringLiteral("cannot read the person key %1: %2").arg(native(path), *error);
        return std::nullopt;
    }
    const Fields found = fields(*text);
    bool opsOk = false;
    bool memOk = false;
    const unsigned long long ops = found.argon.value(0).toULongLong(&opsOk);
    const unsigned long long mem = found.argon.value(1).toULongLong(&memOk);
    const QByteArray nonce = QByteArray::fromBase64(found.sealed.value(0));
    const QByteArray box = QByteArray::fromBase64(found.sealed.value(1));
    if (!opsOk || !memOk || ops < crypto_pwhash_OPSLIMIT_MIN || ops > kMostOps
        || mem < crypto_pwhash_MEMLIMIT_MIN || mem > kMostMem
        || nonce.size() != crypto_secretbox_NONCEBYTES
        || box.size() != crypto_secretbox_MACBYTES + crypto_sign_SECRETKEYBYTES
        || found.name.isEmpty()) {
        *error = QStringLiteral("%1 holds no sealed person key").arg(native(path));
        return std::nullopt;
    }
    SecretBytes sealing(crypto_secretbox_KEYBYTES);
    SecretBytes secret(crypto_sign_SECRETKEYBYTES);
    if (!sealingKey(sealing.data(), passphrase, QByteArray::fromBase64(found.argon.value(2)), ops,
                    size_t(mem))
        || crypto_secretbox_open_easy(
               secret.data(), reinterpret_cast<const unsigned char *>(box.constData()),
               size_t(box.size()), reinterpret_cast<const unsigned char *>(nonce.constData()),
               sealing.data())
            != 0) {
        *error = QStringLiteral("the passphrase does not open the person key %1").arg(native(path));
        return std::nullopt;
    }
    PersonKey key;
    // Copied out of locked memory for an instant, and wiped by adopt().
    QByteArray bytes(reinterpret_cast<const char *>(secret.data()), crypto_sign_SECRETKEYBYTES);
    if (!key.adopt(bytes) || key.publicKey() != found.publicKey) {
        *error = QStringLiteral("%1: the sealed key is not the public key the file names")
                     .arg(native(path));
        return std::nullopt;
    }
    key.m_name = found.name;
    key.m_comment = QString::fromUtf8(found.comment).section(QStringLiteral(", "), 1);
    return key;
}

std::optional<QByteArray> PersonKey::publicFile(const QString &path, QString *error)
{
    const std::optional<QByteArray> text = Files::readAtMost(
        path, kLargestFile, QStringLiteral("the most a key file may be"), error);
    if (!text) {
        *error = QStringLiteral("cannot read the person key %1: %2").arg(native(path), *error);
        return std::nullopt;
    }
    const Fields found = fields(*text);
    if (found.publicKey.size() != crypto_sign_PUBLICKEYBYTES || found.name.isEmpty()) {
        *error = QStringLiteral("%1 holds no person key").arg(native(path));
        return std::nullopt;
    }
    return found.comment + '\n' + "ed25519 " + found.publicKey.toBase64() + '\n' + "name "
        + found.name.toUtf8() + '\n' + "name-signature " + found.nameSignature.toBase64() + '\n';
}

QByteArray PersonKey::publicKeyFile() const
{
    return "# tempyra-cli person key " + fingerprint() + " of " + m_name.toUtf8()
        + (m_comment.isEmpty() ? QByteArray() : ", " + m_comment.toUtf8()) + '\n' + "ed25519 "
        + publicKey().toBase64() + '\n' + "name " + m_name.toUtf8() + '\n' + "name-signature "
        + sign(Trust::nameMessage(publicKey(), m_name)).toBase64() + '\n';
}
