#include "DialogFields.h"

#include <QByteArray>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

const char* skipBlanks(const char* p, const char* end)
{
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v'))
        ++p;
    return p;
}

} // namespace

double LeadingNumber(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    const char* end = bytes.constData() + bytes.size();
    const char* p = skipBlanks(bytes.constData(), end);
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    // from_chars takes no sign of its own but '-', and no blanks after it.
    if (p == end || *p == '-' || *p == '+')
        return 0.0;
    double value = 0.0;
    const auto r = std::from_chars(p, end, value, std::chars_format::general);
    if (r.ec != std::errc() || !std::isfinite(value))
        return 0.0;
    return negative ? -value : value;
}

int LeadingInteger(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    const char* end = bytes.constData() + bytes.size();
    const char* p = skipBlanks(bytes.constData(), end);
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    long long value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            break;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

void StoreFieldText(char* field, std::size_t size, const QString& text)
{
    const auto maxBytes = static_cast<qsizetype>(size - 1);
    QString kept = text.left(maxBytes);
    QByteArray bytes = kept.toLocal8Bit();
    while (bytes.size() > maxBytes) {
        const qsizetype n = kept.size();
        const bool pair = n >= 2 && kept.at(n - 1).isLowSurrogate() && kept.at(n - 2).isHighSurrogate();
        kept.chop(pair ? 2 : 1);
        bytes = kept.toLocal8Bit();
    }
    std::memset(field, 0, size);
    std::memcpy(field, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString FieldText(const char* field, std::size_t size)
{
    return QString::fromLocal8Bit(field, static_cast<qsizetype>(::strnlen(field, size)));
}
