#include "record/stationkey.h"

#include "record/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sodium.h>

#include <cstdlib>
#include <cstring>

namespace {

const QByteArray kPublicTag = QByteArrayLiteral("ed25519 ");
const QByteArray kSecretTag = QByteArrayLiteral("ed25519-secret ");
const QByteArray kSignatureTag = QByteArrayLiteral(",\"signature\":\"");
constexpr int kFingerprintBytes = 8;

void initialise()
{
    // Idempotent and safe from any thread; it fails only where the system has no randomness.
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        std::abort();
}

// Wipes a buffer that held secret bytes before Qt frees it.
void wipe(QByteArray &bytes)
{
    if (!bytes.isEmpty())
        sodium_memzero(bytes.data(), size_t(bytes.size()));
    bytes.clear();
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

SigningKey::SigningKey(SigningKey &&other) noexcept
    : m_secret(other.m_secret)
    , m_public(std::move(other.m_public))
    , m_fingerprint(std::move(other.m_fingerprint))
{
    other.m_secret = nullptr;
}

SigningKey::~SigningKey()
{
    sodium_free(m_secret);
}

void SigningKey::derivePublic()
{
    m_public = QByteArray(reinterpret_cast<const char *>(m_secret) + crypto_sign_SEEDBYTES,
                          crypto_sign_PUBLICKEYBYTES);
    m_fingerprint = Signature::fingerprint(m_public);
}

bool SigningKey::generate()
{
    initialise();
    m_secret = static_cast<unsigned char *>(sodium_malloc(crypto_sign_SECRETKEYBYTES));
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    if (!m_secret || crypto_sign_keypair(publicKey, m_secret) != 0)
        return false;
    derivePublic();
    return true;
}

bool SigningKey::adopt(QByteArray &secret)
{
    initialise();
    const bool fits = secret.size() == crypto_sign_SECRETKEYBYTES;
    if (fits)
        m_secret = static_cast<unsigned char *>(sodium_malloc(crypto_sign_SECRETKEYBYTES));
    if (m_secret) {
        std::memcpy(m_secret, secret.constData(), crypto_sign_SECRETKEYBYTES);
        derivePublic();
    }
    wipe(secret);
    return fits && m_secret;
}

QByteArray SigningKey::sign(const QByteArray &message) const
{
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr,
                         reinterpret_cast<const unsigned char *>(message.constData()),
                         size_t(message.size()), m_secret);
    return QByteArray(reinterpret_cast<const char *>(signature), crypto_sign_BYTES);
}

std::optional<StationKey> StationKey::create(const QString &path, const QString &comment,
                                             QString *error)
{
    StationKey key;
    if (!key.generate()) {
        *error = QStringLiteral("cannot make a key pair");
        return std::nullopt;
    }
    key.m_comment = comment;
    // One buffer, reserved up front, so that no copy of the secret is left unwiped.
    const QByteArray header = "# tempyra-cli station secret key " + key.fingerprint() + ", "
        + comment.toUtf8() + ": it signs this station's audit lines; keep it to this account\n";
    QByteArray encoded = QByteArray::fromRawData(reinterpret_cast<const char *>(key.secret()),
                                                 crypto_sign_SECRETKEYBYTES)
                             .toBase64();
    QByteArray file;
    file.reserve(header.size() + kSecretTag.size() + encoded.size() + 1);
    file.append(header).append(kSecretTag).append(encoded).append('\n');
    const bool written = Files::writeOwnerOnly(path, file, error);
    wipe(encoded);
    wipe(file);
    if (!written)
        return std::nullopt;
    return key;
}

std::optional<StationKey> StationKey::load(const QString &path, QString *error)
{
    initialise();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the station key %1: %2")
                     .arg(native(path), file.errorString());
        return std::nullopt;
    }
    if (!Files::isOwnerOnly(path)) {
        *error = QStringLiteral("the station key %1 can be read by other accounts, which could "
                                "sign in this station's name; make it private (chmod 600 %1) "
                                "or make a new key")
                     .arg(native(path));
        return std::nullopt;
    }
    QByteArray text = file.readAll();
    const QString comment = QString::fromUtf8(text.left(text.indexOf('\n')))
                                .section(QStringLiteral(", "), 1)
                                .section(QLatin1Char(':'), 0, 0);
    // Decoded from the file's own buffer, without copies of the line.
    const int at = text.indexOf("\n" + kSecretTag);
    const int start = at < 0 ? 0 : at + 1 + kSecretTag.size();
    const int end = at < 0 ? 0 : text.indexOf('\n', start);
    QByteArray secret = at < 0
        ? QByteArray()
        : QByteArray::fromBase64(QByteArray::fromRawData(text.constData() + start,
                                                         (end < 0 ? text.size() : end) - start));
    wipe(text);
    std::optional<StationKey> key;
    key.emplace(StationKey());
    key->m_comment = comment;
    if (!key->adopt(secret)) {
        key.reset();
        *error = QStringLiteral("%1 holds no station secret key").arg(native(path));
    }
    return key;
}

QByteArray StationKey::publicKeyFile() const
{
    return "# tempyra-cli station key " + fingerprint()
        + (m_comment.isEmpty() ? QByteArray() : ", " + m_comment.toUtf8()) + '\n' + kPublicTag
        + publicKey().toBase64() + '\n';
}

QByteArray SigningKey::signLine(const QByteArray &body) const
{
    return body.left(body.size() - 1) + kSignatureTag + sign(body).toBase64() + "\"}";
}

namespace Signature {

QByteArray fingerprint(const QByteArray &publicKey)
{
    unsigned char hash[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(hash, reinterpret_cast<const unsigned char *>(publicKey.constData()),
                       size_t(publicKey.size()));
    return QByteArray(reinterpret_cast<const char *>(hash), kFingerprintBytes).toHex();
}

bool split(const QByteArray &line, QByteArray *body, QByteArray *signature)
{
    // ,"signature":"<88 characters of base64>"}
    constexpr int kEncoded = (crypto_sign_BYTES + 2) / 3 * 4;
    const int at = line.lastIndexOf(kSignatureTag);
    if (at < 0 || line.size() != at + kSignatureTag.size() + kEncoded + 2 || !line.endsWith("\"}"))
        return false;
    *signature = QByteArray::fromBase64(line.mid(at + kSignatureTag.size(), kEncoded));
    *body = line.left(at) + '}';
    return signature->size() == crypto_sign_BYTES;
}

bool verify(const QByteArray &body, const QByteArray &signature, const QByteArray &publicKey)
{
    initialise();
    return signature.size() == crypto_sign_BYTES && publicKey.size() == crypto_sign_PUBLICKEYBYTES
        && crypto_sign_verify_detached(
               reinterpret_cast<const unsigned char *>(signature.constData()),
               reinterpret_cast<const unsigned char *>(body.constData()), size_t(body.size()),
               reinterpret_cast<const unsigned char *>(publicKey.constData()))
        == 0;
}

} // namespace Signature
