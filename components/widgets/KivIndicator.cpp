#include "KivIndicator.h"

#include "KivStrUtils.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QLocale>
#include <QMouseEvent>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>

// ---------------------------------------------------------------------------------------------------
// Value formatting

namespace {

// Beyond this a width or precision is a typing error, not a wish for a megabyte of blanks.
constexpr int MaxFieldWidth = 4096;
// More digits than an extended real holds are noise.
constexpr int MaxDigits = 18;

struct FormatField {
    bool Left = false;
    int Width = -1;
    int Precision = -1;
};

QString padded(QString s, const FormatField& field) {
    if (field.Width > s.size()) {
        const QString fill(field.Width - s.size(), u' ');
        s = field.Left ? s + fill : fill + s;
    }
    return s;
}

// Our own fixed printf formats only; the user's text never reaches the printf family.
std::string printReal(const char* format, int precision, Extended value) {
    const int n = std::snprintf(nullptr, 0, format, precision, value);
    std::string s(static_cast<std::size_t>(n), '\0');
    std::snprintf(s.data(), s.size() + 1, format, precision, value);
    return s;
}

// The printf family writes the C library's decimal point, which is the user's once the application has
// set the C locale from the environment: either one is replaced by the user's separator.
QString withSeparator(const std::string& s) {
    QString out = QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
    const QString radix = QString::fromLocal8Bit(std::localeconv()->decimal_point);
    qsizetype at = radix.isEmpty() ? -1 : out.indexOf(radix);
    qsizetype length = radix.size();
    if (at < 0) {
        at = out.indexOf(u'.');
        length = 1;
    }
    if (at >= 0)
        out.replace(at, length, localeDecimalSeparator());
    return out;
}

QString nonFinite(Extended value) {
    if (std::isnan(value))
        return QStringLiteral("NAN");
    return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
}

// Digits and decimal exponent of value rounded to `digits` significant digits.
void decimalDigits(Extended value, int digits, bool& negative, std::string& mantissa, int& exponent) {
    const std::string s = printReal("%.*Le", digits - 1, value);
    const char* p = s.c_str();
    negative = *p == '-';
    if (negative)
        ++p;
    mantissa.clear();
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            mantissa += *p;
    exponent = *p == 'e' ? std::atoi(p + 1) : 0;
}

QString formatExponent(Extended value, int precision) {
    bool negative = false;
    std::string digits;
    int exponent = 0;
    decimalDigits(value, precision, negative, digits, exponent);
    QString out = negative ? QStringLiteral("-") : QString();
    out += QLatin1Char(digits[0]);
    if (digits.size() > 1) {
        out += localeDecimalSeparator();
        out += QLatin1String(digits.data() + 1, static_cast<qsizetype>(digits.size() - 1));
    }
    out += exponent < 0 ? QStringLiteral("E-") : QStringLiteral("E+");
    out += QStringLiteral("%1").arg(std::abs(exponent), 3, 10, QLatin1Char('0'));
    return out;
}

// The shortest of fixed and scientific notation with `precision` significant digits, as the
// general number format writes it (trailing zeros dropped, "1E-6", "1E20").
QString formatGeneralDigits(Extended value, int precision) {
    if (value == 0)
        return QStringLiteral("0");
    bool negative = false;
    std::string digits;
    int exponent = 0;
    decimalDigits(value, precision, negative, digits, exponent);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    const int count = static_cast<int>(digits.size());
    const QString sep = localeDecimalSeparator();
    QString out = negative ? QStringLiteral("-") : QString();
    if (exponent < -5 || exponent >= precision) {
        out += QLatin1Char(digits[0]);
        if (count > 1)
            out += sep + QLatin1String(digits.data() + 1, count - 1);
        out += u'E' + QString::number(exponent);
    } else if (exponent < 0) {
        out += u'0' + sep + QString(-exponent - 1, u'0') + QLatin1String(digits.data(), count);
    } else {
        const int whole = exponent + 1;
        if (count <= whole) {
            out += QLatin1String(digits.data(), count) + QString(whole - count, u'0');
        } else {
            out += QLatin1String(digits.data(), whole) + sep +
                   QLatin1String(digits.data() + whole, count - whole);
        }
    }
    return out;
}

QString grouped(QString fixed) {
    const QString group = QLocale().groupSeparator();
    const qsizetype sep = fixed.indexOf(localeDecimalSeparator());
    qsizetype end = sep >= 0 ? sep : fixed.size();
    const qsizetype begin = fixed.startsWith(u'-') ? 1 : 0;
    for (qsizetype at = end - 3; at > begin; at -= 3)
        fixed.insert(at, group);
    return fixed;
}

// Digits from the first non-zero one on: what a fixed-notation text claims to know of its value.
int significantDigits(const std::string& s) {
    int count = 0;
    bool started = false;
    for (char c : s) {
        if (c < '0' || c > '9')
            continue;
        started = started || c != '0';
        if (started)
            ++count;
    }
    return count;
}

// Fixed notation with `precision` decimals, but never more digits than an extended real holds: the
// decimals give way first, and a value whose whole part alone has more digits is written in exponent
// form. Beyond that the digits would be noise, shown as if they were known.
std::optional<std::string> fixedDigits(int precision, Extended value, int maxDigits = MaxDigits) {
    std::string s = printReal("%.*Lf", precision, value);
    const int excess = significantDigits(s) - maxDigits;
    if (excess <= 0)
        return s;
    if (excess <= precision) {
        s = printReal("%.*Lf", precision - excess, value);
        if (significantDigits(s) <= maxDigits) // rounding may carry into a new leading digit
            return s;
    }
    return std::nullopt;
}

QString formatFixed(int precision, Extended value, bool group) {
    const std::optional<std::string> fixed = fixedDigits(precision, value);
    if (!fixed)
        return formatGeneralDigits(value, MaxDigits);
    const QString text = withSeparator(*fixed);
    return group ? grouped(text) : text;
}

std::optional<QString> formatReal(QChar type, const FormatField& field, Extended value) {
    if (!std::isfinite(value))
        return nonFinite(value);
    switch (type.unicode()) {
    case 'f':
        return formatFixed(field.Precision < 0 ? 2 : std::min(field.Precision, MaxDigits), value, false);
    case 'n':
        return formatFixed(field.Precision < 0 ? 2 : std::min(field.Precision, MaxDigits), value, true);
    case 'e':
        return formatExponent(value, field.Precision < 0 ? 15 : std::clamp(field.Precision, 1, MaxDigits));
    case 'g':
        return formatGeneralDigits(value,
                                   field.Precision < 0 ? 15 : std::clamp(field.Precision, 1, MaxDigits));
    case 'm': {
        const int precision = field.Precision < 0 ? 2 : std::min(field.Precision, MaxDigits);
        // The currency routine takes a 64-bit real, which holds 15 digits for sure.
        const std::optional<std::string> fixed = fixedDigits(precision, value, 15);
        if (!fixed)
            return formatGeneralDigits(value, 15);
        const qsizetype dot = static_cast<qsizetype>(fixed->find('.'));
        const int decimals = dot < 0 ? 0 : static_cast<int>(fixed->size()) - static_cast<int>(dot) - 1;
        return QLocale().toCurrencyString(static_cast<double>(value), QString(), decimals);
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> formatInteger(QChar type, const FormatField& field, qint64 value) {
    QString digits;
    bool negative = false;
    switch (type.unicode()) {
    case 'd':
        negative = value < 0;
        digits = QString::number(negative ? 0 - static_cast<quint64>(value) : static_cast<quint64>(value));
        break;
    case 'u':
        digits = QString::number(static_cast<quint64>(value));
        break;
    case 'x':
        digits = QString::number(static_cast<quint64>(value), 16).toUpper();
        break;
    default:
        return std::nullopt;
    }
    // A 64-bit integer may have 19 digits; like a real, it shows no more than an extended real holds.
    if (type != u'x' && digits.size() > MaxDigits)
        return formatGeneralDigits(type == u'u' ? static_cast<Extended>(static_cast<quint64>(value))
                                                : static_cast<Extended>(value),
                                   MaxDigits);
    // The precision of an integer is its least number of digits.
    if (field.Precision > digits.size())
        digits.prepend(QString(field.Precision - digits.size(), u'0'));
    return negative ? u'-' + digits : digits;
}

} // namespace

std::optional<QString> FormatValue(const QString& Format, Extended Value) {
    const bool integer = Format.contains(QLatin1String("%d"));
    qint64 whole = 0;
    if (integer) {
        const Extended t = std::trunc(Value);
        // 2^63 is exact in an extended real; anything outside cannot become a 64-bit integer.
        if (!std::isfinite(t) || t < -9223372036854775808.0L || t >= 9223372036854775808.0L)
            return std::nullopt;
        whole = static_cast<qint64>(t);
    }

    QString out;
    const qsizetype n = Format.size();
    qsizetype i = 0;
    int nextArgument = 0;
    bool bad = false;
    auto at = [&](char16_t c) { return i < n && Format[i] == c; };
    // Digits as a number, -1 when there are none; a '*' would take the value as a width.
    auto readNumber = [&]() {
        if (at(u'*'))
            bad = true;
        int v = -1;
        while (!bad && i < n && Format[i].isDigit() && Format[i].unicode() < 128) {
            v = (v < 0 ? 0 : v) * 10 + (Format[i].unicode() - '0');
            if (v > MaxFieldWidth)
                bad = true;
            ++i;
        }
        return v;
    };

    while (i < n) {
        if (Format[i] != u'%') {
            out += Format[i++];
            continue;
        }
        ++i;
        if (at(u'%')) {
            out += u'%';
            ++i;
            continue;
        }
        FormatField field;
        int argument = -1;
        int number = readNumber();
        if (at(u':')) {
            argument = std::max(number, 0);
            ++i;
            number = -1;
        }
        if (number < 0) {
            if (at(u'-')) {
                field.Left = true;
                ++i;
            }
            number = readNumber();
        }
        field.Width = number;
        if (at(u'.')) {
            ++i;
            field.Precision = std::max(readNumber(), 0);
        }
        if (bad || i >= n)
            return std::nullopt;
        const QChar type = Format[i++].toLower();
        if (argument < 0)
            argument = nextArgument;
        nextArgument = argument + 1;
        if (argument != 0) // there is one value to format
            return std::nullopt;
        const std::optional<QString> text =
            integer ? formatInteger(type, field, whole) : formatReal(type, field, Value);
        if (!text)
            return std::nullopt;
        out += padded(*text, field);
    }
    return out;
}

namespace {

// The shorter forms of a text that is one number, exact to the digit: [sign] digits [separator
// digits] [E exponent]. Empty for any other text.
QStringList shorterForms(const QString& padded) {
    const QString text = padded.trimmed();
    const QString sep = localeDecimalSeparator();
    qsizetype i = 0;
    const qsizetype n = text.size();
    QString sign;
    if (i < n && (text[i] == u'-' || text[i] == u'+'))
        sign = text[i++];
    auto isDigit = [&](qsizetype k) { return k < n && text[k] >= u'0' && text[k] <= u'9'; };
    QString whole, fraction;
    while (isDigit(i))
        whole += text[i++];
    if (!sep.isEmpty() && QStringView(text).mid(i).startsWith(sep)) {
        i += sep.size();
        while (isDigit(i))
            fraction += text[i++];
    }
    qint64 exponent = 0;
    if (i < n && (text[i] == u'E' || text[i] == u'e')) {
        ++i;
        bool negative = false;
        if (i < n && (text[i] == u'-' || text[i] == u'+'))
            negative = text[i++] == u'-';
        if (!isDigit(i))
            return {};
        for (; isDigit(i); ++i) {
            exponent = exponent * 10 + (text[i].unicode() - u'0');
            if (exponent > 100000) // far beyond any real; not a number we would shorten
                return {};
        }
        if (negative)
            exponent = -exponent;
    }
    if (i != n || (whole.isEmpty() && fraction.isEmpty()))
        return {};

    QStringList forms;
    // Trailing decimal zeros say only how exactly the value was formatted.
    while (fraction.endsWith(u'0'))
        fraction.chop(1);
    QString plain = sign + (whole.isEmpty() ? QStringLiteral("0") : whole);
    if (!fraction.isEmpty())
        plain += sep + fraction;
    if (exponent != 0)
        plain += u'E' + QString::number(exponent);
    forms << plain;

    // All the digits, in exponent form: d.ddd E n.
    QString digits = whole + fraction;
    qint64 pointAt = whole.size() + exponent; // digits before the decimal point
    qsizetype lead = 0;
    while (lead < digits.size() && digits[lead] == u'0')
        ++lead;
    if (lead == digits.size())
        return forms; // zero: nothing shorter than "0"
    digits.remove(0, lead);
    pointAt -= lead;
    while (digits.endsWith(u'0'))
        digits.chop(1);
    QString scientific = sign + digits[0];
    if (digits.size() > 1)
        scientific += sep + digits.mid(1);
    scientific += u'E' + QString::number(pointAt - 1);
    forms << scientific;
    return forms;
}

} // namespace

QString FitValueText(const QString& Text, int Width, const std::function<int(const QString&)>& Measure) {
    if (Measure(Text) <= Width)
        return Text;
    for (const QString& form : shorterForms(Text))
        if (Measure(form) <= Width)
            return form;
    return QString::fromUtf16(ValueOverflowMark);
}

// ---------------------------------------------------------------------------------------------------
// Accessibility: a screen reader or a test driver reads the caption as the name and what the
// viewport shows ("532.500 nm") as the value.

namespace {

class IndicatorAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit IndicatorAccessible(TKivIndicator* w) : QAccessibleWidget(w, QAccessible::StaticText) {}

    TKivIndicator* indicator() const { return static_cast<TKivIndicator*>(widget()); }

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            return widget()->accessibleName().isEmpty() ? indicator()->Caption() : widget()->accessibleName();
        case QAccessible::Value:
            return indicator()->DisplayText();
        case QAccessible::Description:
            return widget()->accessibleDescription().isEmpty() ? indicator()->DisplayText()
                                                               : widget()->accessibleDescription();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QVariant currentValue() const override { return static_cast<double>(indicator()->Value()); }
    void setCurrentValue(const QVariant&) override {} // a readout is not an input
    QVariant maximumValue() const override { return static_cast<double>(indicator()->ValueMax()); }
    QVariant minimumValue() const override { return static_cast<double>(indicator()->ValueMin()); }
    QVariant minimumStepSize() const override { return 0.0; }
};

QAccessibleInterface* indicatorAccessibleFactory(const QString&, QObject* object) {
    if (auto* w = qobject_cast<TKivIndicator*>(object))
        return new IndicatorAccessible(w);
    return nullptr;
}

void installAccessibleFactory() {
    static std::once_flag once;
    std::call_once(once, [] { QAccessible::installFactory(&indicatorAccessibleFactory); });
}

bool sameFont(const TKivFont& a, const TKivFont& b) {
    return a.Font == b.Font && a.Color == b.Color && a.Escapement == b.Escapement;
}

bool contains(const TRect& r, QPoint p) {
    return p.x() >= r.Left && p.x() < r.Right && p.y() >= r.Top && p.y() < r.Bottom;
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// TKivIndicator

TKivIndicator::TKivIndicator(QWidget* parent) : TKivGraphicControl(parent) {
    installAccessibleFactory();
    resize(140, 100);
    FrameInner()->SetStyle(afsSunkenHeavy);
    FrameOuter()->SetStyle(afsRaisedHeavy);
    SetParentColor(false);
    SetColor(clBlack);
    CaptionStyle()->SetAllowRotation(true);
    CaptionStyle()->SetSnapToRightAngles(true);
    FValueUnitFont.Color = clWindow;
}

TKivIndicator::~TKivIndicator() {
    // Leave no pointer to us behind in the server or the channel.
    SetDataServer(nullptr);
}

void TKivIndicator::SetWordWrap(bool Value) {
    if (Value == FWordWrap)
        return;
    FWordWrap = Value;
    Invalidate();
}

void TKivIndicator::SetMargin(int Value) {
    if (Value == FMargin)
        return;
    FMargin = Value;
    Invalidate();
}

void TKivIndicator::SetValueFormat(const QString& Value) {
    if (Value == FValueFormat)
        return;
    FValueFormat = Value;
    // A new format that does not fit is worth a report of its own.
    FFormatErrorReported = false;
    valueTextChanged();
    invalidateViewport();
}

void TKivIndicator::SetAlignment(TAlignment Value) {
    if (Value == FAlignment)
        return;
    FAlignment = Value;
    Invalidate();
}

void TKivIndicator::SetLayout(TKivCaptionLayout Value) {
    if (Value == FLayout)
        return;
    FLayout = Value;
    Invalidate();
}

void TKivIndicator::SetValueUnit(const QString& Value) {
    if (Value == FValueUnit)
        return;
    FValueUnit = Value;
    valueTextChanged();
    Invalidate();
}

void TKivIndicator::SetValueUnitFont(const TKivFont& Value) {
    if (sameFont(Value, FValueUnitFont))
        return;
    FValueUnitFont = Value;
    StyleChanged(this);
}

void TKivIndicator::SetShowClearButton(bool Value) {
    if (Value == FShowClearButton)
        return;
    FShowClearButton = Value;
    Invalidate();
}

void TKivIndicator::SetCaptionWidth(int Value) {
    if (Value == FCaptionWidth)
        return;
    FCaptionWidth = Value;
    Invalidate();
}

void TKivIndicator::SetValue(Extended AValue) {
    if (FValueMin != FValueMax) {
        if (AValue < FValueMin)
            AValue = FValueMin;
        else if (AValue > FValueMax)
            AValue = FValueMax;
    }
    if (AValue == FValue || (std::isnan(AValue) && std::isnan(FValue)))
        return;
    FValue = AValue;
    valueTextChanged();
    invalidateViewport();
}

void TKivIndicator::SetValueMax(Extended AValue) {
    if (AValue == FValueMax)
        return;
    FValueMax = AValue;
    if (FValueMax < FValueMin)
        FValueMin = FValueMax;
    Invalidate();
}

void TKivIndicator::SetValueMin(Extended AValue) {
    if (AValue == FValueMin)
        return;
    FValueMin = AValue;
    if (FValueMin > FValueMax)
        FValueMax = FValueMin;
    Invalidate();
}

void TKivIndicator::invalidateViewport() {
    if (!Loading())
        update();
}

void TKivIndicator::valueTextChanged() {
    FValueTextValid = false;
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, static_cast<double>(FValue));
        QAccessible::updateAccessibility(&event);
    }
}

QString TKivIndicator::ValueText() const {
    if (!FValueTextValid) {
        FValueText = FormatValue(FValueFormat, FValue);
        FValueTextValid = true;
        if (!FValueText && !FFormatErrorReported) {
            FFormatErrorReported = true;
            const QString message =
                QStringLiteral("Format '%1' invalid or incompatible with argument").arg(FValueFormat);
            // Usually we are inside a paint here; the handler may open a modal message box, so it
            // runs once the paint is over.
            if (QCoreApplication* app = QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    app, [message] { KivReportError(message); }, Qt::QueuedConnection);
            else
                KivReportError(message);
        }
    }
    return FValueText.value_or(QString());
}

QString TKivIndicator::DisplayText() const {
    const QString value = ValueText();
    if (FValueUnit.isEmpty())
        return value;
    if (value.isEmpty())
        return FValueUnit;
    return value + u' ' + FValueUnit;
}

void TKivIndicator::CalcLayout(TKivCanvas& Canvas, const TRect& L, TRect& Viewport, TRect& CaptionRect) {
    const QSize extent = CaptionStyle()->TextExtent(Canvas, Caption(), L, Font());
    const int angle = CaptionStyle()->Angle();
    int h = (angle == 90 || angle == 270) ? extent.width() : extent.height();
    if (!Caption().isEmpty())
        h += 4;

    Viewport = CaptionRect = L;
    TRect button = L;
    switch (FLayout) {
    case tlTop:
        Viewport.Top += h;
        CaptionRect.Bottom = Viewport.Top - 1;
        break;
    case tlBottom:
        Viewport.Bottom -= h;
        CaptionRect.Top = Viewport.Bottom + 1;
        break;
    case tlCenter:
        switch (FAlignment) {
        case taLeftJustify:
            Viewport.Left += FCaptionWidth + 4;
            CaptionRect.Right = FCaptionWidth; // counted from the control's left edge
            break;
        case taRightJustify:
            Viewport.Right -= FCaptionWidth;
            CaptionRect.Left = Viewport.Right + 4;
            break;
        case taCenter:
            CaptionRect = TRect(); // no caption beside a centred viewport
            break;
        }
        break;
    }

    if (!FShowClearButton) {
        button = TRect();
    } else if (FLayout != tlCenter) {
        button.Right = CaptionRect.Right;
        button.Left = CaptionRect.Right - 14;
        CaptionRect.Right = button.Left - 1;
        button.Top = CaptionRect.Top + (CaptionRect.Height() - 14) / 2;
        button.Bottom = button.Top + 14;
    } else {
        button.Top = Viewport.Top + (Viewport.Height() - 14) / 2;
        button.Bottom = button.Top + 14;
        if (FAlignment == taRightJustify) {
            Viewport.Left += 16;
            button.Left = L.Left;
        } else {
            Viewport.Right -= 16;
            button.Left = Viewport.Right + 2;
        }
        button.Right = button.Left + 14;
    }
    FClearButtonRect = button;
}

void TKivIndicator::Paint(TKivCanvas& Canvas) {
    const QImage* buffer = Canvas.Image();
    if (FBackgroundValid && buffer && FBackground.size() == buffer->size() &&
        FBackground.devicePixelRatio() == buffer->devicePixelRatio()) {
        Canvas.Draw(0, 0, FBackground);
    } else {
        PaintBackground(Canvas);
        if (buffer) {
            FBackground = buffer->copy();
            FBackgroundValid = true;
        }
    }
    DrawViewport(Canvas, FViewportRect);
}

void TKivIndicator::PaintBackground(TKivCanvas& Canvas) {
    TRect r(0, 0, width(), height());
    Canvas.FillRect(r, FrameColor());
    FrameOuter()->Draw(Canvas, r);
    r = r.Inflate(-FrameWidth(), -FrameWidth());

    TRect viewport, caption;
    CalcLayout(Canvas, r, viewport, caption);
    if (Color() != FrameColor())
        Canvas.FillRect(viewport, Color());
    FrameInner()->Draw(Canvas, viewport);

    if (!caption.IsEmpty() && !Caption().isEmpty()) {
        CaptionStyle()->DrawText(Canvas, Caption(), Font(), caption,
                                 FLayout == tlCenter ? taCenter : FAlignment, tlCenter,
                                 FWordWrap ? DT_WORDBREAK : 0u, !isEnabled());
    }

    if (FShowClearButton) {
        TRect face = FClearButtonRect;
        if (FClearButtonDown)
            Canvas.DrawPushButton(face, true);
        else
            Canvas.DrawEdge(face, EDGE_ETCHED, BF_RECT);
        const int d = FClearButtonDown ? 1 : 0;
        Canvas.Pen = TKivPen{clMaroon, 1, psSolid};
        Canvas.Brush = TKivBrush{clMaroon, bsSolid};
        Canvas.Ellipse(FClearButtonRect.Inflate(-4, -4).Offset(d, d));
    }

    FViewportRect = viewport.Inflate(-(FMargin + 2), -(FMargin + 2));
}

void TKivIndicator::DrawViewport(TKivCanvas& ACanvas, const TRect& ARect) {
    if (OnDrawViewport)
        OnDrawViewport(this, ACanvas, ARect);
}

void TKivIndicator::mousePressEvent(QMouseEvent* event) {
    TKivGraphicControl::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && FShowClearButton) {
        FClearButtonDown = contains(FClearButtonRect, event->position().toPoint());
        Invalidate();
    }
}

void TKivIndicator::mouseReleaseEvent(QMouseEvent* event) {
    TKivGraphicControl::mouseReleaseEvent(event);
    if (!FClearButtonDown)
        return;
    FClearButtonDown = false;
    Invalidate();
    clearChannel();
    if (OnClear)
        OnClear(this);
}

void TKivIndicator::clearChannel() {
    TKivChannel* channel = FBoundChannel;
    if (!FDataServer || !channel)
        return;
    switch (channel->ChannelType()) {
    case acvtSmallint:
        channel->SetAsSmallint(0);
        break;
    case acvtInteger:
        channel->SetAsInteger(0);
        break;
    case acvtWord:
        channel->SetAsWord(0);
        break;
    case acvtLongWord:
        channel->SetAsLongWord(0);
        break;
    case acvtSingle:
        channel->SetAsSingle(0);
        break;
    case acvtDouble:
        channel->SetAsDouble(0);
        break;
    case acvtByte:
        channel->SetAsByte(0);
        break;
    case acvtCurrency: // money, dates, switches and texts have no zero to clear to
    case acvtDate:
    case acvtBoolean:
    case acvtString:
        break;
    }
}

// ---------------------------------------------------------------------------------------------------
// Binding

int TKivIndicator::ChannelIndex() const {
    return FBoundChannel ? FBoundChannel->Index() : -1;
}

void TKivIndicator::SetDataServer(TKivCustomDataServer* Value) {
    if (Value == FDataServer)
        return;
    if (TKivCustomDataServer* old = FDataServer) {
        unbindChannel();
        disconnect(old, nullptr, this, nullptr);
        old->UnregisterClient(this);
    }
    FDataServer = Value;
    if (Value) {
        connect(Value, &TKivCustomDataServer::aboutToBeDestroyed, this, &TKivIndicator::serverGoing);
        Value->RegisterClient(this);
        bindChannel();
    }
}

void TKivIndicator::SetChannel(const QString& Value) {
    if (Value == FChannel)
        return;
    FChannel = Value;
    bindChannel();
}

void TKivIndicator::bindChannel() {
    TKivChannel* found = nullptr;
    if (FDataServer && !FChannel.isEmpty()) {
        const int index = FDataServer->Channels()->IndexOf(FChannel);
        if (index != -1)
            found = FDataServer->Channels()->Items(index);
    }
    if (found == FBoundChannel)
        return;
    unbindChannel();
    FBoundChannel = found;
    if (found)
        found->AddClient(this); // tells us the channel's value at once
    // Leaving a channel also leaves the server's client list; we still want to hear of reloads.
    if (FDataServer)
        FDataServer->RegisterClient(this);
}

void TKivIndicator::unbindChannel() {
    if (TKivChannel* channel = FBoundChannel)
        channel->RemoveClient(this);
    FBoundChannel = nullptr;
}

void TKivIndicator::serverGoing(TKivCustomDataServer* Server) {
    if (Server == FDataServer)
        SetDataServer(nullptr);
}

void TKivIndicator::channelValue(TKivChannel* Channel) {
    if (!Channel)
        return;
    Extended v = FValueMin;
    switch (Channel->ChannelType()) {
    case acvtSmallint:
        v = Channel->AsSmallint();
        break;
    case acvtInteger:
        v = Channel->AsInteger();
        break;
    case acvtWord:
        v = Channel->AsWord();
        break;
    case acvtLongWord:
        v = Channel->AsLongWord();
        break;
    case acvtSingle:
        v = Channel->AsSingle();
        break;
    case acvtDouble:
        v = Channel->AsDouble();
        break;
    case acvtDate:
        v = Channel->AsDateTime();
        break;
    case acvtByte:
        v = Channel->AsByte();
        break;
    case acvtCurrency:
    case acvtBoolean:
    case acvtString:
        break;
    }
    if (OnChangingValue)
        OnChangingValue(this, v);
    SetValue(v);
}

bool TKivIndicator::event(QEvent* e) {
    if (e->type() == CM_CHANNELVALUE) {
        channelValue(static_cast<ChannelMessage*>(e)->channel());
        return true;
    }
    if (e->type() == CM_CHANNELSCHANGED) {
        // The names may point elsewhere now: look ours up again.
        if (static_cast<ChannelMessage*>(e)->server() == FDataServer)
            bindChannel();
        return true;
    }
    return TKivGraphicControl::event(e);
}

// ---------------------------------------------------------------------------------------------------
// TKivOdoMeter

TKivOdoMeter::TKivOdoMeter(QWidget* parent) : TKivIndicator(parent) {
    FValueFont.Color = clLime;
    FValueFont.Font.setPointSize(14);
}

void TKivOdoMeter::SetValueFont(const TKivFont& Value) {
    if (sameFont(Value, FValueFont))
        return;
    FValueFont = Value;
    StyleChanged(this);
}

void TKivOdoMeter::PaintBackground(TKivCanvas& Canvas) {
    TKivIndicator::PaintBackground(Canvas);
    const TRect& area = ViewportRect();
    FUnitWidth = 0;
    if (ValueUnit().isEmpty())
        return;
    Canvas.Brush.Style = bsClear;
    Canvas.Font = ValueUnitFont();
    FUnitWidth = Canvas.TextWidth(ValueUnit());
    TRect unit(area.Right - FUnitWidth, area.Top, area.Right, area.Bottom);
    Canvas.DrawText(ValueUnit(), unit, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
    Canvas.Brush.Style = bsSolid;
}

void TKivOdoMeter::DrawViewport(TKivCanvas& ACanvas, const TRect& ARect) {
    // The unit stands at the right (drawn with the background); the number ends 4 pixels left of it.
    ACanvas.Brush.Style = bsClear;
    ACanvas.Font = FValueFont;
    TRect value = ARect;
    value.Right -= FUnitWidth + 4;
    const QString shown = FitValueText(ValueText(), value.Right - value.Left,
                                       [&ACanvas](const QString& Text) { return ACanvas.TextWidth(Text); });
    ACanvas.DrawText(shown, value, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
    ACanvas.Brush.Style = bsSolid;
    TKivIndicator::DrawViewport(ACanvas, ARect);
}
