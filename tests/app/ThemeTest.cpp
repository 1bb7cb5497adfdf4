// The window keeps its own light look whatever palette the desktop hands the program, and its captions fit
// their controls at any scale (this program also runs with QT_SCALE_FACTOR=2, see CMakeLists.txt).
#include "ConsoleFixture.h"

#include "KivButton.h"

#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QStyle>

#include <algorithm>
#include <cmath>
#include <map>

using namespace consoletest;

namespace {

// What a dark desktop theme hands the program: light text on dark faces.
QPalette darkDesktopPalette() {
    QPalette dark(QColor(0xee, 0xee, 0xee), QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Button, QColor(0x45, 0x45, 0x45));
    dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(0x90, 0x90, 0x90));
    return dark;
}

double luminance(QColor c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(QColor a, QColor b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Within Area of Image: the commonest colour (the background) and the best contrast any pixel reaches
// against it (the ink of the text drawn there).
double inkContrast(const QImage& Image, QRect Area) {
    std::map<QRgb, int> counts;
    Area = Area.intersected(Image.rect());
    for (int y = Area.top(); y <= Area.bottom(); ++y)
        for (int x = Area.left(); x <= Area.right(); ++x)
            ++counts[Image.pixel(x, y)];
    if (counts.empty())
        return 0;
    const QRgb background = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                                return a.second < b.second;
                            })->first;
    double best = 1;
    for (const auto& [rgb, n] : counts)
        best = std::max(best, contrast(QColor(rgb), QColor(background)));
    return best;
}

class Theme : public ConsoleFixture {
protected:
    void SetUp() override {
        ConsoleFixture::SetUp();
        desktopPalette = QApplication::palette();
    }
    void TearDown() override {
        QApplication::setPalette(desktopPalette);
        ConsoleFixture::TearDown();
    }
    QPalette desktopPalette;
    // The window as drawn, once every pending paint is done; no control keeps a blinking caret.
    QImage render() {
        window->setFocus();
        QTest::qWait(50);
        return window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    // Every control that shows a caption or a value, with the area its text is drawn in.
    std::vector<std::pair<QWidget*, QRect>> texts() const {
        std::vector<std::pair<QWidget*, QRect>> list;
        for (QLabel* label : window->findChildren<QLabel*>())
            if (!label->text().isEmpty() && label->isVisible())
                list.emplace_back(label, label->contentsRect());
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
            if (!button->text().isEmpty() && button->isVisible())
                list.emplace_back(button, button->rect());
        for (QGroupBox* box : window->findChildren<QGroupBox*>())
            if (!box->title().isEmpty())
                list.emplace_back(box, QRect(0, 0, box->width(), box->fontMetrics().height() + 2));
        return list;
    }
};

} // namespace

TEST_F(Theme, ADarkDesktopPaletteLeavesTheWindowExactlyAsUnderTheLightOne) {
    startConsole();
    window->rgSelectionItems->button(0)->click();
    const QImage light = render();
    expert1.reset();
    expert2.reset();
    window.reset();

    // A new window made under the dark palette, as the program starts on a dark desktop.
    QApplication::setPalette(darkDesktopPalette());
    window = std::make_unique<TfrmMain>();
    frmMain = window.get();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->rgSelectionItems->button(0)->click();
    const QImage dark = render();
    ASSERT_EQ(dark.size(), light.size());
    int differing = 0;
    QPoint first;
    for (int y = 0; y < dark.height(); ++y)
        for (int x = 0; x < dark.width(); ++x)
            if (dark.pixel(x, y) != light.pixel(x, y) && differing++ == 0)
                first = QPoint(x, y);
    EXPECT_EQ(differing, 0) << "first at " << first.x() << "," << first.y();

    // Every caption and value is readable: enabled ink stands out clearly, disabled ink is still drawn.
    for (const auto& [widget, area] : texts()) {
        const double dpr = window->devicePixelRatioF();
        const QRect onWindow(widget->mapTo(window.get(), area.topLeft()) * dpr, area.size() * dpr);
        const double c = inkContrast(dark, onWindow);
        const double needed = widget->isEnabled() ? 4.5 : 1.5;
        EXPECT_GE(c, needed) << widget->objectName().toStdString() << " "
                             << (widget->isEnabled() ? "enabled" : "disabled");
    }
}

TEST_F(Theme, ThePaletteTurningDarkWhileRunningChangesNothing) {
    startConsole();
    const QImage before = render();
    QApplication::setPalette(darkDesktopPalette());
    QTest::qWait(50);
    EXPECT_EQ(render(), before);
    EXPECT_EQ(window->lblName1->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::white));
}

TEST_F(Theme, TheWindowShowsTheLogoAsItsIcon) {
    startConsole();
    const QIcon icon = window->windowIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_TRUE(icon.availableSizes().contains(QSize(48, 48)));
    const QImage drawn = icon.pixmap(QSize(48, 48)).toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage file = QImage(QStringLiteral(":/orvane/icons/hicolor/48x48/apps/orvane.png"))
                            .convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(drawn, file);
}

// Also run with QT_SCALE_FACTOR=2: then the window is drawn at twice the pixels, and every caption must
// still fit the control it belongs to.
TEST_F(Theme, EveryCaptionFitsItsControlAtThisScale) {
    startConsole();
    const double scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                             ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                             : 1.0;
    const QPixmap shot = window->grab();
    EXPECT_DOUBLE_EQ(shot.devicePixelRatio(), scale);
    EXPECT_EQ(shot.size(), QSize(735, 686) * scale);
    EXPECT_EQ(window->size(), QSize(735, 686));

    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        const QSize text = label->fontMetrics().size(0, label->text());
        EXPECT_LE(text.width(), label->contentsRect().width()) << label->objectName().toStdString();
        EXPECT_LE(text.height(), label->contentsRect().height() + 2) << label->objectName().toStdString();
    }
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (button->text().isEmpty())
            continue;
        int needed = button->fontMetrics().horizontalAdvance(button->text());
        if (qobject_cast<QRadioButton*>(button) || qobject_cast<QCheckBox*>(button))
            needed = button->sizeHint().width();
        else if (auto* glyph = qobject_cast<TKivBitBtn*>(button); glyph && glyph->Images())
            needed += glyph->Images()->Width() + 4;
        EXPECT_LE(needed, button->width())
            << button->objectName().toStdString() << " '" << button->text().toStdString() << "'";
    }
    // The simulator's controller name shows whole in its label.
    window->lblName1->setText(QStringLiteral("ORVANE-SIM-1"));
    EXPECT_LE(window->lblName1->fontMetrics().horizontalAdvance(window->lblName1->text()),
              window->lblName1->contentsRect().width());
}
