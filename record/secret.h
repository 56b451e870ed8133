#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

/// Bytes that must not linger: a passphrase, an opened key. They live in locked memory (kept out
/// of swap where the system allows), wiped when the object goes, and are never copied into a
/// QByteArray or a QString.
class SecretBytes
{
public:
    explicit SecretBytes(int capacity);
    SecretBytes(SecretBytes &&other) noexcept;
    SecretBytes &operator=(SecretBytes &&other) noexcept;
    SecretBytes(const SecretBytes &) = delete;
    ~SecretBytes();

    unsigned char *data() { return m_data; }
    const unsigned char *data() const { return m_data; }
    int size() const { return m_size; }
    int capacity() const { return m_capacity; }
    void resize(int size) { m_size = qMin(size, m_capacity); }
    bool operator==(const SecretBytes &other) const;

private:
    unsigned char *m_data = nullptr;
    int m_size = 0;
    int m_capacity = 0;
};

namespace Passphrase {

/// The longest passphrase read, in bytes.
constexpr int kLongest = 1024;

/// Asks for a passphrase on the terminal without echo, the prompt on standard error; twice, when
/// confirm, refused when the two differ. Nothing, with error, when there is no terminal to ask
/// on (give --passphrase-file) or it is left empty.
std::optional<SecretBytes> ask(const QString &prompt, bool confirm, QString *error);

/// The first line of path, which no other account may read.
std::optional<SecretBytes> fromFile(const QString &path, QString *error);

} // namespace Passphrase
