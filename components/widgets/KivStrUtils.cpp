#include "KivStrUtils.h"

#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

enum class SplitState { StartOfToken, InToken, InQuotes, AfterQuotes, Dropping };

// One walk over the text for both the text and the byte flavour of SplitTokens.
template <typename Str, typename Ch, typename List>
void splitTokensImpl(const Str& text, const Str& separators, List& list, Ch quote) {
    list.clear();
    if (text.isEmpty())
        return;
    auto isSeparator = [&](Ch c) { return separators.contains(c); };
    // Each token gets its room at once instead of growing a character at a time: replies are parsed
    // on every command.
    const auto room = std::min<qsizetype>(text.size(), 64);
    SplitState state = SplitState::StartOfToken;
    Str token;
    token.reserve(room);
    for (Ch c : text) {
        switch (state) {
        case SplitState::StartOfToken:
            if (c == quote) {
                token.clear();
                state = SplitState::InQuotes;
            } else if (isSeparator(c)) {
                list.append(Str());
            } else {
                token.append(c);
                state = SplitState::InToken;
            }
            break;
        case SplitState::InToken:
            if (isSeparator(c)) {
                list.append(token);
                token.clear();
                token.reserve(room);
                state = SplitState::StartOfToken;
            } else {
                token.append(c);
            }
            break;
        case SplitState::InQuotes:
            if (c == quote)
                state = SplitState::AfterQuotes;
            else
                token.append(c);
            break;
        case SplitState::AfterQuotes:
            if (isSeparator(c)) {
                list.append(token);
                token.clear();
                token.reserve(room);
                state = SplitState::StartOfToken;
            } else {
                state = SplitState::Dropping;
            }
            break;
        case SplitState::Dropping:
            break;
        }
    }
    if (state == SplitState::StartOfToken || state == SplitState::InToken || state == SplitState::AfterQuotes)
        list.append(token);
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

} // namespace

void SplitTokens(QStringView Text, QStringView Separators, QStringList& List) {
    splitTokensImpl(Text.toString(), Separators.toString(), List, QChar(u'"'));
}

void SplitTokens(const QByteArray& Text, const QByteArray& Separators, QList<QByteArray>& List) {
    splitTokensImpl(Text, Separators, List, '"');
}

QString localeDecimalSeparator() {
    return QLocale().decimalPoint();
}

namespace {

// Reads a real whose decimal separator is any one of Separators (an empty entry is never matched).
double readReal(QStringView Text, double Default, std::initializer_list<QStringView> Separators) {
    qsizetype i = 0;
    qsizetype n = Text.size();
    while (i < n && isBlank(Text[i]))
        ++i;
    while (n > i && isBlank(Text[n - 1]))
        --n;

    // Rebuild the number in C notation, accepting only sign, digits, one separator and an exponent.
    std::string c;
    if (i < n && (Text[i] == u'+' || Text[i] == u'-'))
        c += static_cast<char>(Text[i++].unicode());
    int mantissaDigits = 0;
    while (i < n && isDigit(Text[i])) {
        c += static_cast<char>(Text[i++].unicode());
        ++mantissaDigits;
    }
    const QStringView rest = Text.mid(i, n - i);
    const auto separator = std::find_if(Separators.begin(), Separators.end(),
                                        [&](QStringView s) { return !s.isEmpty() && rest.startsWith(s); });
    if (separator != Separators.end()) {
        c += '.';
        i += separator->size();
        while (i < n && isDigit(Text[i])) {
            c += static_cast<char>(Text[i++].unicode());
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return Default;
    if (i < n && (Text[i] == u'e' || Text[i] == u'E')) {
        c += 'e';
        ++i;
        if (i < n && (Text[i] == u'+' || Text[i] == u'-'))
            c += static_cast<char>(Text[i++].unicode());
        int exponentDigits = 0;
        while (i < n && isDigit(Text[i])) {
            c += static_cast<char>(Text[i++].unicode());
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return Default;
    }
    if (i != n)
        return Default;

    const char* first = c.data();
    if (*first == '+')
        ++first; // from_chars takes no plus sign
    double value = 0;
    const auto [end, ec] = std::from_chars(first, c.data() + c.size(), value);
    if (ec != std::errc() || end != c.data() + c.size() || !std::isfinite(value))
        return Default;
    return value;
}

} // namespace

double StrToFloatDefault(QStringView Text, double Default) {
    // A full stop is taken too: the form's own defaults are written with one, and users of a comma
    // locale type it all the same.
    const QString separator = localeDecimalSeparator();
    return readReal(Text, Default, {QStringView(separator), u"."});
}

double StrToFloatDefault(QStringView Text, double Default, QStringView DecimalSeparator) {
    return readReal(Text, Default, {DecimalSeparator});
}

QString formatGeneral(double Value) {
    return formatGeneral(Value, localeDecimalSeparator());
}

QString formatGeneral(double Value, QStringView DecimalSeparator) {
    if (std::isnan(Value))
        return QStringLiteral("NAN");
    if (std::isinf(Value))
        return Value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (Value == 0)
        return QStringLiteral("0");

    // Round to 15 significant digits once; the layout is chosen from the rounded decimal exponent.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", Value);
    const char* p = buf;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    std::string digits;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits += *p;
    const int exponent = (*p == 'e') ? std::atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    QString out;
    if (negative)
        out += u'-';
    const int count = static_cast<int>(digits.size());
    if (exponent < -5 || exponent >= 15) {
        out += QLatin1Char(digits[0]);
        if (count > 1) {
            out += DecimalSeparator;
            out += QLatin1String(digits.data() + 1, count - 1);
        }
        out += u'E';
        out += QString::number(exponent);
    } else if (exponent < 0) {
        out += u'0';
        out += DecimalSeparator;
        out += QString(-exponent - 1, u'0');
        out += QLatin1String(digits.data(), count);
    } else {
        const int integerDigits = exponent + 1;
        for (int k = 0; k < integerDigits; ++k)
            out += QLatin1Char(k < count ? digits[k] : '0');
        if (count > integerDigits) {
            out += DecimalSeparator;
            out += QLatin1String(digits.data() + integerDigits, count - integerDigits);
        }
    }
    return out;
}

QString formatInt(qint64 Value) {
    return QString::number(Value);
}

int parseIntDefault(QStringView Text, int Default) {
    qsizetype i = 0;
    while (i < Text.size() && isBlank(Text[i]))
        ++i;
    bool negative = false;
    if (i < Text.size() && (Text[i] == u'+' || Text[i] == u'-'))
        negative = Text[i++] == u'-';
    if (i == Text.size())
        return Default;
    qint64 value = 0;
    for (; i < Text.size(); ++i) {
        if (!isDigit(Text[i]))
            return Default;
        value = value * 10 + (Text[i].unicode() - u'0');
        if (value > qint64(INT32_MAX) + 1)
            return Default;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        return Default;
    return static_cast<int>(value);
}

std::uint32_t HashText(QStringView S) {
    std::uint32_t h = 0;
    for (qsizetype i = S.size() - 1; i >= 0; --i)
        h = h * 33u + S[i].unicode();
    return h;
}
