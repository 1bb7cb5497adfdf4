// Numbers as text: reading any text as a real or an integer, and writing any real in the general format.
// What is written reads back as the same number to 15 digits; what is read is finite or the default.
#include "FuzzCheck.h"
#include "KivStrUtils.h"

#include <QLocale>

#include <cmath>
#include <limits>

using fuzzsupport::Input;

namespace {

// Writing then reading a real gives it back to the 15 digits the format keeps.
void roundTrip(double value, QStringView separator) {
    const QString text = formatGeneral(value, separator);
    FUZZ_CHECK(fuzzsupport::significantDigits(text) <= 15, text);
    if (!std::isfinite(value)) {
        FUZZ_CHECK(text == "NAN" || text == "INF" || text == "-INF", text);
        return;
    }
    QString c = text;
    c.replace(separator.toString(), QStringLiteral("."));
    bool ok = false;
    const double back = c.toDouble(&ok);
    FUZZ_CHECK(ok || std::abs(value) > 1.7e308, text);
    if (ok)
        FUZZ_CHECK(std::abs(back - value) <= std::abs(value) * 1e-14, text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t mode = in.byte();
    if (mode & 1) {
        // A real as raw bits: every double, denormals, infinities and NaNs included.
        const double value = in.raw<double>();
        roundTrip(value, u".");
        roundTrip(value, u",");
        return 0;
    }
    const QString text = QString::fromUtf8(in.rest());
    const double sentinel = -123.25;
    const double value = StrToFloatDefault(text, sentinel);
    FUZZ_CHECK(std::isfinite(value), text);
    if (value != sentinel)
        roundTrip(value, QLocale().decimalPoint());

    const int whole = parseIntDefault(text, 0);
    if (whole != 0)
        FUZZ_CHECK(parseIntDefault(formatInt(whole), 0) == whole, text);
    // An integer text is also a real text, and the two readings agree.
    if (whole != 0)
        FUZZ_CHECK(StrToFloatDefault(text, sentinel) == whole, text);
    return 0;
}
