#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QString>
#include <QVarLengthArray>

// The top-level members of a JSON line, read straight from its bytes with the span of each
// value, without building a JSON object: a record has many lines. Only a plain form is read so:
// strings of valid UTF-8 with JSON's escapes, top-level keys without escapes, numbers that fit a
// double, containers nested a few deep. Anything else, whether JSON or not, is left to
// QJsonDocument, which stays the judge of what a line holds; its own compact output is read
// back, escaped keys let through: there they only stand for quotes, backslashes and control
// characters, so they never match a name looked for.
class JsonMembers
{
public:
    /// False, with no member, when line is not a JSON object. What is read of it stays valid as
    /// long as line.
    bool read(const QByteArray &line);
    bool contains(QLatin1String key) const { return find(key) >= 0; }
    /// A value's JSON text, empty when there is none. The last of members named alike counts,
    /// as with QJsonObject.
    QByteArray raw(QLatin1String key) const;
    /// A string value, empty for anything else.
    QString string(QLatin1String key) const;
    /// A number that is a whole int, as QJsonValue::toInt reads it; otherwise byDefault.
    int integer(QLatin1String key, int byDefault) const;

private:
    enum Form { Plain, Compact };
    struct Member
    {
        int key;
        int keySize;
        int value;
        int valueSize;
    };
    bool readAs(const QByteArray &line, Form form);
    bool scan(const char *p, const char *end, Form form);
    int find(QLatin1String key) const;

    const char *m_data = nullptr;
    QByteArray m_rewritten;
    QVarLengthArray<Member, 24> m_members;
};
