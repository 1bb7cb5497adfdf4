// The reply token splitter over any text and separator set: both flavours (text and bytes) must agree,
// no token holds a separator unless it was quoted, and nothing is made up.
#include "FuzzCheck.h"
#include "KivStrUtils.h"

#include <QStringList>

using fuzzsupport::Input;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const QByteArray separators = in.until('\0').left(4);
    const QByteArray bytes = in.rest();

    QList<QByteArray> byteTokens;
    SplitTokens(bytes, separators, byteTokens);
    QStringList textTokens;
    SplitTokens(QString::fromLatin1(bytes), QString::fromLatin1(separators), textTokens);

    FUZZ_CHECK(byteTokens.size() == textTokens.size());
    qsizetype total = 0;
    for (qsizetype k = 0; k < byteTokens.size(); ++k) {
        FUZZ_CHECK(QString::fromLatin1(byteTokens[k]) == textTokens[k]);
        total += byteTokens[k].size();
    }
    FUZZ_CHECK(total <= bytes.size()); // tokens only take characters of the text
    FUZZ_CHECK(bytes.isEmpty() == byteTokens.isEmpty() || bytes.startsWith('"'));

    // Without quotes the split is exact: one token more than separators, and the tokens are the text.
    if (!bytes.contains('"') && !bytes.isEmpty()) {
        qsizetype separatorCount = 0;
        for (char c : bytes)
            separatorCount += separators.contains(c) ? 1 : 0;
        FUZZ_CHECK(byteTokens.size() == separatorCount + 1);
        for (const QByteArray& token : byteTokens)
            for (char c : token)
                FUZZ_CHECK(!separators.contains(c));
        FUZZ_CHECK(total + separatorCount == bytes.size());
    }

    // The same text read as UTF-8 (what a terminal might type): no crash, tokens within the text.
    QStringList wide;
    const QString utf8 = QString::fromUtf8(bytes);
    SplitTokens(utf8, QString::fromUtf8(separators), wide);
    qsizetype wideTotal = 0;
    for (const QString& token : wide)
        wideTotal += token.size();
    FUZZ_CHECK(wideTotal <= utf8.size());
    return 0;
}
