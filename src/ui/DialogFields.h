// Moving values between dialog widgets and the fixed fields of the
// configuration record.
#pragma once

#include <QString>

#include <cstddef>

// The number at the start of `text`, read as the C library's atof reads it
// but always with '.' as the decimal point (the user's locale must not
// change what a typed "2.5" means). No number, or one that is not finite,
// gives 0.
double LeadingNumber(const QString& text);

// The decimal integer at the start of `text`, read as atoi reads it ("99.5"
// gives 99, "abc" gives 0), kept within the range of int.
int LeadingInteger(const QString& text);

// `text` as the bytes of a NUL-terminated field of `size` bytes: cut to
// whole characters so that a multi-byte character is never split, and the
// rest of the field zeroed.
void StoreFieldText(char* field, std::size_t size, const QString& text);
template <std::size_t N> void StoreFieldText(char (&field)[N], const QString& text)
{
    StoreFieldText(field, N, text);
}

// A field's text; a field loaded from a file may lack its NUL.
QString FieldText(const char* field, std::size_t size);
template <std::size_t N> QString FieldText(const char (&field)[N])
{
    return FieldText(field, N);
}
