// The window keeps its own light look whatever palette the desktop hands the program, per class of widget
// too, and under the real GTK platform theme; its captions fit their controls at any scale (this program
// also runs with QT_SCALE_FACTOR=2 and on a virtual screen under the GTK theme, see CMakeLists.txt).
#include "ConsoleFixture.h"

#include "KivButton.h"
#include "KivIndicator.h"
#include "LightTheme.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QProcess>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

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

// The classes a dark palette is handed to by class: those Qt gives a platform theme's palettes to, and
// every class the console's windows are made of.
const QByteArrayList DarkenedClasses =
    QByteArray("QWidget QFrame QLabel QMessageBoxLabel QGroupBox QLineEdit QTextEdit QPlainTextEdit "
               "QTextControl QAbstractScrollArea QScrollBar QAbstractButton QPushButton QToolButton "
               "QRadioButton QCheckBox QHeaderView QAbstractItemView QTabBar QMenu QMenuBar TKivBitBtn "
               "TKivLEDBtn TKivOdoMeter LogMemo")
        .split(' ');

// Whether this process has loaded a shared object whose path contains Name.
bool loaded(const char* Name) {
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(Name);
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
        ConsoleFixture::TearDown();
        QApplication::setPalette(desktopPalette); // which also drops the palettes given to classes
    }
    // The program's own code hands a dark palette to the application and to each class of widget.
    void darkenEveryClass() {
        QApplication::setPalette(darkDesktopPalette());
        for (const QByteArray& name : DarkenedClasses)
            QApplication::setPalette(darkDesktopPalette(), name.constData());
    }
    // Terminal 1 with a reply in it; its colours are white on black by design.
    QImage renderTerminal() {
        expert1->memoTerminal()->setPlainText(QStringLiteral("STATUS=READY*"));
        expert1->memoTerminal()->setFocus();
        return expert1->grab().toImage().convertToFormat(QImage::Format_RGB32);
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
        for (QLineEdit* edit : window->findChildren<QLineEdit*>())
            if (!edit->text().isEmpty() && edit->isVisible())
                list.emplace_back(edit, edit->rect());
        for (TKivOdoMeter* meter : window->findChildren<TKivOdoMeter*>())
            list.emplace_back(meter, meter->rect()); // its caption "Current Wavelength"
        return list;
    }
    QRect onWindow(QWidget* Widget, QRect Area) const {
        const double dpr = window->devicePixelRatioF();
        return QRect(Widget->mapTo(window.get(), Area.topLeft()) * dpr, Area.size() * dpr);
    }
};

int differingPixels(const QImage& A, const QImage& B, QPoint* First = nullptr) {
    int differing = 0;
    for (int y = 0; y < std::min(A.height(), B.height()); ++y)
        for (int x = 0; x < std::min(A.width(), B.width()); ++x)
            if (A.pixel(x, y) != B.pixel(x, y) && differing++ == 0 && First)
                *First = QPoint(x, y);
    return differing;
}

} // namespace

TEST_F(Theme, ADarkDesktopPaletteLeavesTheWindowExactlyAsUnderTheLightOne) {
    startConsole();
    window->rgSelectionItems->button(0)->click();
    const QImage light = render();
    const QImage lightTerminal = renderTerminal();

    // New windows made under a dark palette for the application and for every class of widget, as the
    // program starts on a dark desktop whose theme hands out palettes by class.
    darkenEveryClass();
    remakeWindows();
    window->rgSelectionItems->button(0)->click();
    const QImage dark = render();
    ASSERT_EQ(dark.size(), light.size());
    QPoint first;
    EXPECT_EQ(differingPixels(dark, light, &first), 0) << "first at " << first.x() << "," << first.y();
    EXPECT_EQ(differingPixels(renderTerminal(), lightTerminal, &first), 0)
        << "terminal, first at " << first.x() << "," << first.y();

    // Every caption and value is readable: enabled ink stands out clearly, disabled ink is still drawn.
    for (const auto& [widget, area] : texts()) {
        const double c = inkContrast(dark, onWindow(widget, area));
        const double needed = widget->isEnabled() ? 4.5 : 1.5;
        EXPECT_GE(c, needed) << widget->objectName().toStdString() << " "
                             << (widget->isEnabled() ? "enabled" : "disabled");
    }
}

TEST_F(Theme, ThePaletteTurningDarkWhileRunningChangesNothing) {
    startConsole();
    const QImage before = render();
    const QImage terminalBefore = renderTerminal();
    darkenEveryClass();
    QTest::qWait(50);
    EXPECT_EQ(differingPixels(render(), before), 0);
    EXPECT_EQ(differingPixels(renderTerminal(), terminalBefore), 0);
    EXPECT_EQ(window->lblName1->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_EQ(window->txtMoveWavelength1->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::white));
}

// The light palette is, colour for colour, the one the window was always drawn with: Fusion's own
// palette where no desktop theme speaks (this program runs without one).
TEST_F(Theme, TheLightPaletteIsFusionsWithoutADesktopTheme) {
    ASSERT_FALSE(loaded("platformthemes/"));
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    ASSERT_TRUE(fusion);
    const QPalette expected = fusion->standardPalette(), light = LightPalette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto r = QPalette::ColorRole(role);
            EXPECT_EQ(light.brush(group, r), expected.brush(group, r))
                << "group " << group << " role " << role << ": " << light.color(group, r).name().toStdString()
                << " for " << expected.color(group, r).name().toStdString();
        }
}

// Run by the ctest entry Theme.GtkDarkThemeOnAVirtualScreen, on a virtual screen with the GTK platform theme
// and a dark GTK theme: every text on the window has at least the contrast it has under the default theme,
// which a second run of this program, without the platform theme, draws on the same screen.
TEST_F(Theme, DISABLED_UnderTheGtkDarkTheme) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    ASSERT_TRUE(loaded("platformthemes/libqgtk3.so")) << "the GTK platform theme did not load";
    const QPalette desktop = QApplication::palette();
    ASSERT_GT(luminance(desktop.color(QPalette::WindowText)), luminance(desktop.color(QPalette::Window)))
        << "the GTK theme is not dark";

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QProcess plain;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORMTHEME", "GTK_THEME", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("ORVANE_THEME_SHOTS"), folder.path());
    plain.setProcessEnvironment(environment);
    plain.setProcessChannelMode(QProcess::ForwardedChannels);
    plain.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_also_run_disabled_tests"),
                 QStringLiteral("--gtest_filter=Theme.DISABLED_ShotsUnderTheDefaultTheme")});
    ASSERT_TRUE(plain.waitForFinished(120000));
    ASSERT_EQ(plain.exitCode(), 0);
    const QImage light =
        QImage(folder.filePath(QStringLiteral("window.png"))).convertToFormat(QImage::Format_RGB32);
    const QImage lightTerminal =
        QImage(folder.filePath(QStringLiteral("terminal.png"))).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(light.isNull() || lightTerminal.isNull());

    startConsole();
    window->rgSelectionItems->button(0)->click();
    const QImage dark = render();
    ASSERT_EQ(dark.size(), light.size());
    for (const auto& [widget, area] : texts()) {
        const QRect at = onWindow(widget, area);
        const double underGtk = inkContrast(dark, at), underDefault = inkContrast(light, at);
        std::printf("contrast %-22s %5.1f:1 under GTK dark, %5.1f:1 under the default theme\n",
                    widget->objectName().toStdString().c_str(), underGtk, underDefault);
        EXPECT_GE(underGtk, underDefault) << widget->objectName().toStdString();
    }
    const QImage terminal = renderTerminal();
    const QRect text = expert1->memoTerminal()->viewport()->geometry();
    std::printf("contrast %-22s %5.1f:1 under GTK dark, %5.1f:1 under the default theme\n", "terminal",
                inkContrast(terminal, text), inkContrast(lightTerminal, text));
    EXPECT_GE(inkContrast(terminal, text), inkContrast(lightTerminal, text));
    std::printf("pixels differing from the default theme: window %d of %lld, terminal %d of %lld\n",
                differingPixels(dark, light), static_cast<long long>(dark.width()) * dark.height(),
                differingPixels(terminal, lightTerminal),
                static_cast<long long>(terminal.width()) * terminal.height());
}

// The default theme's side of the test above, in a process of its own.
TEST_F(Theme, DISABLED_ShotsUnderTheDefaultTheme) {
    const QDir folder(qEnvironmentVariable("ORVANE_THEME_SHOTS"));
    ASSERT_TRUE(qEnvironmentVariableIsSet("ORVANE_THEME_SHOTS") && folder.exists());
    ASSERT_FALSE(loaded("platformthemes/"));
    startConsole();
    window->rgSelectionItems->button(0)->click();
    ASSERT_TRUE(render().save(folder.filePath(QStringLiteral("window.png"))));
    ASSERT_TRUE(renderTerminal().save(folder.filePath(QStringLiteral("terminal.png"))));
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
