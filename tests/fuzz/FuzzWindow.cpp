#include "FuzzWindow.h"

#include "FuzzCheck.h"
#include "KivIndicator.h"
#include "KivStrUtils.h"
#include "OrvaneApplication.h"
#include "fMain.h"

#include <QDir>
#include <QFontMetrics>

#include <cmath>
#include <memory>
#include <optional>

namespace fuzzsupport {

namespace {
QStringList errors;
int argc = 1;
char name[] = "orvane-fuzz";
char* argv[] = {name, nullptr};
} // namespace

void startApplication() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Leaked on purpose: the window and the application live as long as the fuzzing process.
    auto* app = new OrvaneApplication(argc, argv);
    Q_UNUSED(app);
    OrvaneApplication::setErrorHook([](const QString& message) { errors.append(message); });
}

TfrmMain& window() {
    static TfrmMain* w = [] {
        auto* made = new TfrmMain();
        frmMain = made;
        made->show();
        return made;
    }();
    return *w;
}

QStringList takeErrors() {
    QStringList out;
    out.swap(errors);
    return out;
}

void checkReadout(int Index) {
    TfrmMain& w = window();
    TKivOdoMeter* meter = Index == 0 ? w.meterCurrWavelength1 : w.meterCurrWavelength2;
    const double stored = w.panel(Index).info().CurrentWavelength;
    FUZZ_CHECK(meter->Value() == static_cast<Extended>(stored));
    const QString text = meter->ValueText();
    FUZZ_CHECK(significantDigits(text) <= 18, text);
    // The text reads back as the stored value, to the three decimals shown or the 18 digits kept.
    const std::optional<long double> back = readBack(text);
    FUZZ_CHECK(back.has_value(), text);
    FUZZ_CHECK(std::abs(*back - stored) <= 0.0005L + std::abs(stored) * 1e-15L, text);
    FUZZ_CHECK(meter->DisplayText() == text + QStringLiteral(" nm"), meter->DisplayText());

    // What the viewport draws in the main window's room for the number: the text, an exact shorter form
    // of it, or the overflow mark.
    const QFontMetrics metrics(meter->ValueFont().Font);
    constexpr int width = 170;
    const QString shown =
        FitValueText(text, width, [&](const QString& t) { return metrics.horizontalAdvance(t); });
    if (shown != QString::fromUtf16(ValueOverflowMark)) {
        FUZZ_CHECK(metrics.horizontalAdvance(shown) <= width, shown);
        FUZZ_CHECK(readBack(shown) == back, shown + QStringLiteral(" for ") + text);
    }
}

} // namespace fuzzsupport
