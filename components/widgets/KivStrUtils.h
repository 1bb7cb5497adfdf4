#pragma once
// String routines shared by the console and the widgets: the quoted-token splitter, locale-aware
// number reading and writing, and the text hash of the data server's name index.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

// Splits Text at any character of Separators into List (emptied first). A token that starts with a
// double quote runs to the next double quote, separators included; whatever follows a closing quote
// up to the next separator is dropped, and so is an unclosed quoted token.
void SplitTokens(QStringView Text, QStringView Separators, QStringList& List);
void SplitTokens(const QByteArray& Text, const QByteArray& Separators, QList<QByteArray>& List);

// Reads a real with the user's decimal separator or a full stop; blanks around the number and an
// exponent are accepted. Anything else, an empty text or a value out of range gives Default.
double StrToFloatDefault(QStringView Text, double Default);
// The same with exactly the given decimal separator: for numbers that are not the user's, such as a
// controller's replies, which carry a full stop whatever the user's settings.
double StrToFloatDefault(QStringView Text, double Default, QStringView DecimalSeparator);

// The general number format: up to 15 significant digits, no trailing zeros, no trailing decimal
// separator; exponent form (1E-6, 1E20) only below 0.00001 or beyond 15 integer digits.
// Without a separator the user's decimal separator is used.
QString formatGeneral(double Value);
QString formatGeneral(double Value, QStringView DecimalSeparator);

// Integers as plain decimal text, and back: a signed 32-bit decimal number (leading blanks and a sign
// allowed), Default for anything else, overflow included.
QString formatInt(qint64 Value);
int parseIntDefault(QStringView Text, int Default = 0);

// The user's decimal separator (that of the default locale, which is the system's unless a program
// or a test chose another).
QString localeDecimalSeparator();

// Hash of the data server's name index: from the last character to the first, h = h * 33 + code.
std::uint32_t HashText(QStringView S);
