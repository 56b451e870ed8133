#pragma once

#include "record/secret.h"
#include "record/stationkey.h"

#include <QString>

#include <optional>

// A person's key: an Ed25519 pair whose secret half is sealed with a passphrase, in a file only
// the person's account can read:
//   # tempyra-cli person key 3f2a9c01d4e5b6a7 of Ana Lima, made by ana on packing-1 on ...
//   ed25519 <the public key in base64>
//   name Ana Lima
//   name-signature <the key's own signature of its name (Trust::nameMessage), in base64>
//   argon2id <opslimit> <memlimit> <salt in base64>
//   sealed <nonce in base64> <the 64-byte secret key, sealed with crypto_secretbox, in base64>
// The key that seals it comes from the passphrase through Argon2id (crypto_pwhash). The public
// file is the first four lines: the name goes with the key, signed by it, so that a team file
// and a record show the name the person gave, not one someone typed later.
class PersonKey : public SigningKey
{
public:
    /// ~/.local/share/tempyra-cli/person.key, or its place on Windows.
    static QString defaultPath();

    /// Makes a new key pair for the person named, sealed with passphrase, at path, which must
    /// not exist yet; readable by this account only.
    static std::optional<PersonKey> create(const QString &path, const QString &name,
                                           const SecretBytes &passphrase, const QString &comment,
                                           QString *error);
    /// Opens the key at path with passphrase; refused when the passphrase is wrong, the file can
    /// be read by other accounts, or it is not whole.
    static std::optional<PersonKey> unlock(const QString &path, const SecretBytes &passphrase,
                                           QString *error);
    /// The public key file of the key at path, without its passphrase.
    static std::optional<QByteArray> publicFile(const QString &path, QString *error);

    const QString &name() const { return m_name; }
    /// What "person show" prints and --trust and "trust add" read.
    QByteArray publicKeyFile() const;

private:
    PersonKey() = default;

    QString m_name;
    QString m_comment;
};
