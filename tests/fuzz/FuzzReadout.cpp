// The readout's value text: any format with any value (raw extended reals, odd encodings included) gives
// a text or nothing, never undefined behaviour; the window's "%.3f" and the other real formats never show
// more than 18 digits nor a wrong number; and what the viewport draws is the text, an exact shorter form
// of it, or the overflow mark.
#include "FuzzCheck.h"
#include "KivIndicator.h"
#include "KivStrUtils.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>

#include <cmath>
#include <memory>

using fuzzsupport::Input;

namespace {
int argc = 1;
char name[] = "orvane-fuzz";
char* argv[] = {name, nullptr};
std::unique_ptr<QFontMetrics> metrics;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv); // lives as long as the fuzzing process
    QFont font("Arial");
    font.setPixelSize(24);
    font.setBold(true);
    metrics = std::make_unique<QFontMetrics>(font);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t mode = in.byte();
    const int width = in.byte() * 2;
    const auto raw = in.raw<Extended>();

    if (mode & 1) {
        // Any format: a text or nothing.
        const std::optional<QString> text = FormatValue(QString::fromUtf8(in.rest()), raw);
        if (text)
            FitValueText(*text, width, [](const QString& t) { return metrics->horizontalAdvance(t); });
        return 0;
    }

    // The property holds for the values arithmetic makes: one pass through the FPU turns a raw encoding
    // the FPU would never produce (pseudo-denormal, unnormal) into the value it stands for, or a NaN.
    volatile Extended one = 1;
    const Extended value = raw * one;

    static const char* const formats[] = {"%.3f", "%f", "%.18f", "%g", "%.18g", "%e", "%.0f", "%d"};
    const QString format = QString::fromLatin1(formats[(mode >> 1) % 8]);
    const std::optional<QString> text = FormatValue(format, value);
    if (format == "%d") {
        // Nothing only for a value that no 64-bit integer holds.
        FUZZ_CHECK(text.has_value() == (std::isfinite(value) && std::abs(std::trunc(value)) < 0x1p63L));
        return 0;
    }
    FUZZ_CHECK(text.has_value(), format);
    if (!std::isfinite(value))
        return 0; // NAN, INF
    FUZZ_CHECK(fuzzsupport::significantDigits(*text) <= 18, *text);
    const std::optional<long double> back = fuzzsupport::readBack(*text);
    FUZZ_CHECK(back.has_value(), *text);
    // Within half a unit of the last decimal shown, or of the 18th digit.
    const int decimals = format == "%.3f" ? 3 : format == "%f" ? 2 : format == "%.0f" ? 0 : 18;
    const long double relative = format == "%g" || format == "%e" ? 5.1e-15L : 6e-18L; // 15 or 18 digits
    const long double tolerance =
        (format.endsWith(u'f') ? 0.5L * std::pow(10.0L, -decimals) : 0.0L) + std::abs(value) * relative;
    FUZZ_CHECK(std::abs(*back - value) <= tolerance, *text);

    const QString shown =
        FitValueText(*text, width, [](const QString& t) { return metrics->horizontalAdvance(t); });
    if (shown != QString::fromUtf16(ValueOverflowMark)) {
        FUZZ_CHECK(metrics->horizontalAdvance(shown) <= width, shown);
        FUZZ_CHECK(fuzzsupport::readBack(shown) == back, shown + QStringLiteral(" for ") + *text);
    }
    return 0;
}
