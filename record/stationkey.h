#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Station keys and signed audit lines, with Ed25519 (libsodium).
//
// The public key goes, as a key file, to whoever checks the record; a file may hold several
// keys, one a line, and lines starting with "#" are comments:
//   # tempyra-cli station key 3f2a9c01d4e5b6a7, made by ana on packing-1 on 2026-12-07
//   ed25519 <the 32-byte public key in base64>
// The secret key stays in a file only its owner can read, in the same form:
//   # tempyra-cli station secret key 3f2a9c01d4e5b6a7, made by ...
//   ed25519-secret <the 64-byte secret key (seed and public key) in base64>
// A key's fingerprint is the first 8 bytes of the SHA-256 of its public key, in hex.
//
// A signed line is a compact JSON object whose "signer" is that fingerprint and whose last
// member is "signature": the base64 Ed25519 signature of the line's own bytes up to, not
// including, ',"signature":"', followed by '}'. That is, in Python:
//   body, _, tail = line.rpartition(b',"signature":"')
//   verify(signature=base64.b64decode(tail[:-2]), message=body + b"}")

/// An Ed25519 key pair. The secret key lives in locked memory that is wiped when the object goes,
/// and never leaves it: the object signs, and tells its public half.
class SigningKey
{
public:
    SigningKey(SigningKey &&other) noexcept;
    SigningKey &operator=(SigningKey &&) = delete;
    SigningKey(const SigningKey &) = delete;
    ~SigningKey();

    const QByteArray &fingerprint() const { return m_fingerprint; }
    /// The 32-byte public key.
    const QByteArray &publicKey() const { return m_public; }
    /// The line for body, a compact JSON object that names this key as its "signer".
    QByteArray signLine(const QByteArray &body) const;
    /// The detached signature of message.
    QByteArray sign(const QByteArray &message) const;

protected:
    SigningKey() = default;
    /// A new pair; false when the system gives no randomness or no locked memory.
    bool generate();
    /// The pair of a 64-byte secret key (seed and public key); secret is wiped.
    bool adopt(QByteArray &secret);
    /// The secret key's bytes, for sealing it: never shown, logged or kept elsewhere.
    const unsigned char *secret() const { return m_secret; }

private:
    void derivePublic();

    unsigned char *m_secret = nullptr;
    QByteArray m_public;
    QByteArray m_fingerprint;
};

/// A station's key pair, kept in a file only its account can read.
class StationKey : public SigningKey
{
public:
    /// Makes a new key pair and writes its secret half to path, which must not exist yet,
    /// readable by this account only. comment says who made it, where and when.
    static std::optional<StationKey> create(const QString &path, const QString &comment,
                                            QString *error);
    /// Reads the secret key at path; refused when other accounts can read the file.
    static std::optional<StationKey> load(const QString &path, QString *error);

    /// The public key file: what "key show" prints and --trust reads.
    QByteArray publicKeyFile() const;

private:
    StationKey() = default;

    QString m_comment;
};

/// Checking signed lines against the public keys a reviewer trusts.
namespace Signature {

/// The fingerprint of a 32-byte public key.
QByteArray fingerprint(const QByteArray &publicKey);

/// The bytes a signed line's signature covers, and the signature; false for a line that
/// carries no signature in the form above.
bool split(const QByteArray &line, QByteArray *body, QByteArray *signature);

/// True when signature is publicKey's signature of body.
bool verify(const QByteArray &body, const QByteArray &signature, const QByteArray &publicKey);

} // namespace Signature
