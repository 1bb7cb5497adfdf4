// Number text and token splitting: what every reply and every typed number goes through.
#include "KivStrUtils.h"

#include <gtest/gtest.h>

#include <QLocale>

namespace {

// Switches the default locale for one test and restores it afterwards.
class LocaleScope {
public:
    explicit LocaleScope(QLocale::Language language) : saved_(QLocale()) {
        QLocale::setDefault(QLocale(language));
    }
    ~LocaleScope() { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

QStringList split(const QString& text, const QString& separators = QStringLiteral("/")) {
    QStringList list{QStringLiteral("stale")};
    SplitTokens(text, separators, list);
    return list;
}

} // namespace

TEST(SplitTokens, FollowsTheStateTableOnEveryRow) {
    const QStringList empty{QString()};
    EXPECT_EQ(split(QString()), QStringList());
    EXPECT_EQ(split("a/b"), (QStringList{"a", "b"}));
    EXPECT_EQ(split("a//b"), (QStringList{"a", "", "b"}));
    EXPECT_EQ(split("a/"), (QStringList{"a", ""}));
    EXPECT_EQ(split("/a"), (QStringList{"", "a"}));
    EXPECT_EQ(split("/"), (QStringList{"", ""}));
    // A quote inside a token is an ordinary character.
    EXPECT_EQ(split("a\"b/c"), (QStringList{"a\"b", "c"}));
    // Quoted tokens keep separators; an empty quoted token is a token.
    EXPECT_EQ(split("\"x/y\"/z"), (QStringList{"x/y", "z"}));
    EXPECT_EQ(split("\"\"/z"), (QStringList{"", "z"}));
    EXPECT_EQ(split("\"x\""), (QStringList{"x"}));
    // After the closing quote anything but a separator drops the rest of the text.
    EXPECT_EQ(split("\"x\"y/z/w"), (QStringList{}));
    EXPECT_EQ(split("a/\"x\"y/z"), (QStringList{"a"}));
    // An unclosed quote adds nothing more.
    EXPECT_EQ(split("a/\"open/end"), (QStringList{"a"}));
    // Several separators, the reply terminator stays in the last token.
    EXPECT_EQ(split("k=v/n=1*", "/="), (QStringList{"k", "v", "n", "1*"}));
}

TEST(SplitTokens, BytesSplitLikeText) {
    QList<QByteArray> list;
    SplitTokens(QByteArray("Wl=532.5/\"a/b\"//x*"), QByteArray("/"), list);
    EXPECT_EQ(list, (QList<QByteArray>{"Wl=532.5", "a/b", "", "x*"}));
}

TEST(StrToFloatDefault, ReadsNumbersAndRejectsEverythingElse) {
    LocaleScope c(QLocale::C);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"532.5", 0), 532.5);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"  -2  ", 0), -2);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"+.5", 0), 0.5);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"5.", 0), 5);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"1.5E3", 0), 1500);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"2e-2", 0), 0.02);
    for (const char16_t* bad : {u"", u"  ", u"abc", u"1.2.3", u"12a", u"1e", u"e5", u".", u"-", u"1,5",
                                u"1 2", u"500nm", u"532.5*", u"1e999", u"0x10"})
        EXPECT_DOUBLE_EQ(StrToFloatDefault(bad, -7), -7) << QString::fromUtf16(bad).toStdString();
}

TEST(StrToFloatDefault, TakesTheUsersDecimalSeparatorAndAFullStop) {
    LocaleScope german(QLocale::German);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"532,5", 0), 532.5);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"532.5", -1), 532.5);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"1,5e2", 0), 150);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"-.25", 0), -0.25);
    // Still one separator at most, and no grouping.
    for (const char16_t* bad : {u"1,5.5", u"1.234,5", u"1.5,", u",", u"1 234,5"})
        EXPECT_DOUBLE_EQ(StrToFloatDefault(bad, -7), -7) << QString::fromUtf16(bad).toStdString();
}

TEST(StrToFloatDefault, AGivenSeparatorIsTheOnlyOneTaken) {
    // The controllers' numbers: a full stop whatever the user's settings.
    LocaleScope german(QLocale::German);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"532.5", 0, u"."), 532.5);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"532,5", -1, u"."), -1);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u" 2.5E-3 ", 0, u"."), 0.0025);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"532.5*", -1, u"."), -1);
    LocaleScope c(QLocale::C);
    EXPECT_DOUBLE_EQ(StrToFloatDefault(u"532,5", -1), -1); // a comma is no separator under a full-stop locale
}

TEST(NumberText, GeneralFormatKeepsFifteenDigitsAndDropsTrailingZeros) {
    LocaleScope c(QLocale::C);
    EXPECT_EQ(formatGeneral(500), "500");
    EXPECT_EQ(formatGeneral(532.5), "532.5");
    EXPECT_EQ(formatGeneral(0.1 + 0.2), "0.3");
    EXPECT_EQ(formatGeneral(500 + 5), "505");
    EXPECT_EQ(formatGeneral(0.01), "0.01");
    EXPECT_EQ(formatGeneral(-2), "-2");
    EXPECT_EQ(formatGeneral(0), "0");
    EXPECT_EQ(formatGeneral(-0.0), "0");
    EXPECT_EQ(formatGeneral(50.01), "50.01");
    EXPECT_EQ(formatGeneral(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(formatGeneral(123456789012345.0), "123456789012345");
    EXPECT_EQ(formatGeneral(2.0 / 3 * 1000), "666.666666666667");
    // Exponent form only below 0.00001 or beyond 15 integer digits.
    EXPECT_EQ(formatGeneral(0.00001), "0.00001");
    EXPECT_EQ(formatGeneral(0.0000123), "0.0000123");
    EXPECT_EQ(formatGeneral(0.000001), "1E-6");
    EXPECT_EQ(formatGeneral(-0.0000015), "-1.5E-6");
    EXPECT_EQ(formatGeneral(999999999999999.0), "999999999999999");
    EXPECT_EQ(formatGeneral(1e15), "1E15");
    EXPECT_EQ(formatGeneral(1.25e20), "1.25E20");
    // Rounding to 15 digits can carry into a new integer digit.
    EXPECT_EQ(formatGeneral(9.9999999999999999), "10");
}

TEST(NumberText, GeneralFormatUsesTheUsersDecimalSeparatorAndRoundTrips) {
    LocaleScope german(QLocale::German);
    EXPECT_EQ(formatGeneral(532.5), "532,5");
    EXPECT_EQ(formatGeneral(1.5e-7), "1,5E-7");
    EXPECT_EQ(formatGeneral(532.5, u"."), "532.5");
    for (double v : {0.3, 532.5, -1e-7, 1e20, 123.456789})
        EXPECT_DOUBLE_EQ(StrToFloatDefault(formatGeneral(v), 0), v);
}

TEST(NumberText, IntegersAreSigned32BitDecimalOrDefault) {
    EXPECT_EQ(formatInt(-42), "-42");
    EXPECT_EQ(parseIntDefault(u"1"), 1);
    EXPECT_EQ(parseIntDefault(u"  -17"), -17);
    EXPECT_EQ(parseIntDefault(u"+3"), 3);
    EXPECT_EQ(parseIntDefault(u"2147483647"), 2147483647);
    EXPECT_EQ(parseIntDefault(u"-2147483648"), INT32_MIN);
    for (const char16_t* bad : {u"", u"2147483648", u"-2147483649", u"99999999999999999999", u"1.0", u"3*",
                                u"0x1F", u"12 ", u"-", u"abc"})
        EXPECT_EQ(parseIntDefault(bad), 0) << QString::fromUtf16(bad).toStdString();
    EXPECT_EQ(parseIntDefault(u"x", 9), 9);
}

TEST(HashText, LastCharacterEntersFirst) {
    EXPECT_EQ(HashText(u""), 0u);
    EXPECT_EQ(HashText(u"a"), 97u);
    EXPECT_EQ(HashText(u"ab"), 98u * 33 + 97);
    EXPECT_NE(HashText(u"ab"), HashText(u"ba"));
    // Long names wrap around in 32 bits instead of overflowing.
    std::uint32_t expected = 0;
    const QString longName(200, u'z');
    for (int i = 0; i < 200; ++i)
        expected = expected * 33u + u'z';
    EXPECT_EQ(HashText(longName), expected);
}
