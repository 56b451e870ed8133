#include "record/jsonmembers.h"

#include <QJsonDocument>

#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A string from its opening quote at p to after its closing one, in the plain form.
bool scanString(const char *&p, const char *end, bool *escaped)
{
    *escaped = false;
    for (++p; p < end;) {
        const uchar c = uchar(*p);
        if (c == '"') {
            ++p;
            return true;
        }
        if (c == '\\') {
            *escaped = true;
            if (end - p < 2)
                return false;
            switch (p[1]) {
            case '"':
            case '\\':
            case '/':
            case 'b':
            case 'f':
            case 'n':
            case 'r':
            case 't':
                p += 2;
                continue;
            case 'u':
                if (end - p < 6)
                    return false;
                for (int i = 2; i < 6; ++i)
                    if (!isxdigit(uchar(p[i])))
                        return false;
                p += 6;
                continue;
            default:
                return false;
            }
        }
        if (c < 0x80) {
            ++p;
            continue;
        }
        // UTF-8: no overlong form, no surrogate, nothing beyond U+10FFFF.
        const int more = c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : 1;
        uint code = c & (0x3f >> more);
        if (c < 0xc2 || c > 0xf4 || end - p <= more)
            return false;
        for (int i = 1; i <= more; ++i) {
            if ((uchar(p[i]) & 0xc0) != 0x80)
                return false;
            code = code << 6 | (uchar(p[i]) & 0x3f);
        }
        if (code < (more == 1       ? 0x80u
                        : more == 2 ? 0x800u
                                    : 0x10000u)
            || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;
        p += more + 1;
    }
    return false;
}

bool scanNumber(const char *&p, const char *end)
{
    const char *start = p;
    const auto digits = [&p, end] {
        const char *first = p;
        while (p < end && isDigit(*p))
            ++p;
        return p > first;
    };
    if (*p == '-')
        ++p;
    if (p < end && *p == '0')
        ++p;
    else if (!(p < end && *p >= '1' && *p <= '9' && digits()))
        return false;
    bool plain = true;
    if (p < end && *p == '.') {
        ++p;
        if (!digits())
            return false;
        plain = false;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < end && (*p == '+' || *p == '-'))
            ++p;
        if (!digits())
            return false;
        plain = false;
    }
    // A number too large for a double is refused by QJsonDocument.
    bool fits = true;
    if (!plain || p - start > 15)
        QByteArray(start, int(p - start)).toDouble(&fits);
    return fits;
}

} // namespace

bool JsonMembers::read(const QByteArray &line)
{
    if (readAs(line, Plain))
        return true;
    // Not in the plain form: QJsonDocument judges, and writes it in its own.
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isObject())
        return false;
    m_rewritten = document.toJson(QJsonDocument::Compact);
    readAs(m_rewritten, Compact);
    return true;
}

bool JsonMembers::readAs(const QByteArray &line, Form form)
{
    m_members.clear();
    m_data = line.constData();
    if (scan(m_data, m_data + line.size(), form))
        return true;
    m_members.clear();
    return false;
}

bool JsonMembers::scan(const char *p, const char *const end, Form form)
{
    const int maxDepth = form == Plain ? 32 : std::numeric_limits<int>::max();
    const auto skipSpace = [&p, end] {
        while (p < end && isSpace(*p))
            ++p;
    };
    skipSpace();
    if (p == end || *p != '{')
        return false;
    ++p;
    // The containers open ('{' or '['), and what comes next.
    QVarLengthArray<char, 16> open {'{'};
    enum { KeyOrEnd, Key, ValueOrEnd, Value, CommaOrEnd } next = KeyOrEnd;
    bool escaped = false;
    for (;;) {
        skipSpace();
        if (p == end)
            return false;
        const bool top = open.size() == 1;
        if ((next == KeyOrEnd && *p == '}') || (next == ValueOrEnd && *p == ']')
            || (next == CommaOrEnd && *p == (open.last() == '{' ? '}' : ']'))) {
            ++p;
            open.removeLast();
            if (open.isEmpty()) {
                skipSpace();
                return p == end;
            }
            if (open.size() == 1)
                m_members.last().valueSize = int(p - m_data) - m_members.last().value;
            next = CommaOrEnd;
            continue;
        }
        switch (next) {
        case CommaOrEnd:
            if (*p++ != ',')
                return false;
            next = open.last() == '{' ? Key : Value;
            continue;
        case KeyOrEnd:
        case Key: {
            const char *key = p;
            if (*p != '"' || !scanString(p, end, &escaped) || (top && escaped && form == Plain))
                return false;
            if (top)
                m_members.append({int(key - m_data) + 1, int(p - key) - 2, 0, 0});
            skipSpace();
            if (p == end || *p++ != ':')
                return false;
            next = Value;
            continue;
        }
        case ValueOrEnd:
        case Value:
            break;
        }
        const char *value = p;
        if (top)
            m_members.last().value = int(value - m_data);
        if (*p == '{' || *p == '[') {
            if (open.size() >= maxDepth)
                return false;
            open.append(*p);
            next = *p++ == '{' ? KeyOrEnd : ValueOrEnd;
            continue;
        }
        if (*p == '"') {
            if (!scanString(p, end, &escaped))
                return false;
        } else if (*p == '-' || isDigit(*p)) {
            if (!scanNumber(p, end))
                return false;
        } else {
            bool literal = false;
            for (const char *word : {"true", "false", "null"}) {
                const int size = int(std::strlen(word));
                if (end - p >= size && std::memcmp(p, word, size) == 0) {
                    p += size;
                    literal = true;
                    break;
                }
            }
            if (!literal)
                return false;
        }
        if (top)
            m_members.last().valueSize = int(p - value);
        next = CommaOrEnd;
    }
}

int JsonMembers::find(QLatin1String key) const
{
    // The last of members named alike counts, as with QJsonDocument.
    for (int i = m_members.size() - 1; i >= 0; --i)
        if (m_members[i].keySize == key.size()
            && std::memcmp(m_data + m_members[i].key, key.data(), key.size()) == 0)
            return i;
    return -1;
}

QByteArray JsonMembers::raw(QLatin1String key) const
{
    const int i = find(key);
    return i < 0 ? QByteArray()
                 : QByteArray::fromRawData(m_data + m_members[i].value, m_members[i].valueSize);
}

int JsonMembers::integer(QLatin1String key, int byDefault) const
{
    bool number = false;
    const double value = raw(key).toDouble(&number);
    return number && value >= std::numeric_limits<int>::min()
            && value <= std::numeric_limits<int>::max() && value == std::trunc(value)
        ? int(value)
        : byDefault;
}

QString JsonMembers::string(QLatin1String key) const
{
    const QByteArray value = raw(key);
    if (!value.startsWith('"'))
        return QString();
    const char *p = value.constData() + 1;
    const char *const end = value.constData() + value.size() - 1;
    if (!std::memchr(p, '\\', end - p))
        return QString::fromUtf8(p, int(end - p));
    QString text;
    for (const char *run = p;; run = p) {
        while (p < end && *p != '\\')
            ++p;
        text += QString::fromUtf8(run, int(p - run));
        if (p == end)
            return text;
        const char c = p[1];
        p += 2;
        if (c == 'u') {
            text += QChar(ushort(QByteArray(p, 4).toUInt(nullptr, 16)));
            p += 4;
        } else {
            const char *const from = "bfnrt";
            const char *const to = "\b\f\n\r\t";
            const char *at = std::strchr(from, c);
            text += QLatin1Char(at ? to[at - from] : c);
        }
    }
}
