// The window as assistive technology reads and drives it: everything the program writes is found in the
// accessibility tree, and toggling a control there does what a click does.
#include "ConsoleFixture.h"

#include <QAccessible>
#include <QAccessibleActionInterface>

#include <functional>

using namespace consoletest;

namespace {

// Walks the accessibility tree under Root, depth first, as a screen reader's review mode does.
QAccessibleInterface* findInTree(QAccessibleInterface* Root,
                                 const std::function<bool(QAccessibleInterface*)>& Match, int Depth = 0) {
    if (!Root || Depth > 12)
        return nullptr;
    if (Match(Root))
        return Root;
    for (int i = 0; i < Root->childCount(); ++i)
        if (QAccessibleInterface* found = findInTree(Root->child(i), Match, Depth + 1))
            return found;
    return nullptr;
}

// The first element under Within whose accessible name is Name.
QAccessibleInterface* named(QWidget* Within, const QString& Name) {
    return findInTree(QAccessible::queryAccessibleInterface(Within),
                      [&](QAccessibleInterface* i) { return i->text(QAccessible::Name) == Name; });
}

// Runs the element's toggle action, as an assistive tool does.
void toggle(QAccessibleInterface* Element) {
    ASSERT_NE(Element, nullptr);
    QAccessibleActionInterface* actions = Element->actionInterface();
    ASSERT_NE(actions, nullptr);
    ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    actions->doAction(QAccessibleActionInterface::toggleAction());
}

} // namespace

using Accessibility = ConsoleFixture;

TEST_F(Accessibility, TheControllersNameGratingRowsAndAMovedWavelengthAreReadFromTheTree) {
    startConnected([](orvanesim::ControllerConfig& c) {
        c.name = "MONO-750";
        c.gratings = {{1200, 500.0}, {600, 1250.5}};
    });
    ASSERT_TRUE(waitFor([&] { return window->txtBlaze12->text() == "1250.5"; }));

    QAccessibleInterface* name = named(window->gbSpectroGraph1, QStringLiteral("Controller name"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(QAccessible::Description), "MONO-750");
    EXPECT_EQ(name->role(), QAccessible::StaticText);

    // Each grating row: its radio button, its groove and its blaze, each under its own name.
    QAccessibleInterface* row2 = named(window->gbSpectroGraph1, QStringLiteral("2"));
    ASSERT_NE(row2, nullptr);
    EXPECT_EQ(row2->role(), QAccessible::RadioButton);
    QAccessibleInterface* groove2 = named(window->gbSpectroGraph1, QStringLiteral("Groove 2"));
    QAccessibleInterface* blaze2 = named(window->gbSpectroGraph1, QStringLiteral("Blaze 2"));
    ASSERT_NE(groove2, nullptr);
    ASSERT_NE(blaze2, nullptr);
    EXPECT_EQ(groove2->text(QAccessible::Value), "600");
    EXPECT_EQ(blaze2->text(QAccessible::Value), "1250.5");

    type(window->txtMoveWavelength1, "532.5");
    click(window->btnMove1);
    ASSERT_TRUE(waitForLog(0, "Moving Ok"));
    QAccessibleInterface* readout = named(window->gbSpectroGraph1, QStringLiteral("Current Wavelength"));
    ASSERT_NE(readout, nullptr);
    EXPECT_EQ(readout->text(QAccessible::Description), "532.500 nm");

    // Letting the controller go is told there too.
    click(btnComm(0));
    ASSERT_TRUE(waitForLog(0, "Disconnect comm."));
    EXPECT_EQ(name->text(QAccessible::Description), "Disconnected");
}

TEST_F(Accessibility, TheSelectorEnablesThePanelsAsAClickDoes) {
    startConsole();
    QAccessibleInterface* dual = named(window->rgSelection, QStringLiteral("Dual"));
    ASSERT_NE(dual, nullptr);
    EXPECT_TRUE(dual->state().checkable);
    EXPECT_FALSE(dual->state().checked);

    toggle(dual);
    EXPECT_TRUE(window->rgSelectionItems->button(2)->isChecked());
    EXPECT_TRUE(dual->state().checked);
    EXPECT_TRUE(window->gbSpectroGraph1->isEnabled());
    EXPECT_TRUE(window->gbSpectroGraph2->isEnabled());

    toggle(named(window->rgSelection, QStringLiteral("2")));
    EXPECT_FALSE(window->gbSpectroGraph1->isEnabled());
    EXPECT_FALSE(window->btnMove1->isEnabled()); // a disabled panel disables its controls
    EXPECT_TRUE(window->gbSpectroGraph2->isEnabled());
    toggle(named(window->rgSelection, QStringLiteral("1")));
    EXPECT_TRUE(window->gbSpectroGraph1->isEnabled());
    EXPECT_FALSE(window->gbSpectroGraph2->isEnabled());
}

TEST_F(Accessibility, TogglingExpertModeOpensTheTerminalAndADisabledBoxIgnoresIt) {
    startConsole();
    QAccessibleInterface* box = named(window->gbSpectroGraph1, QStringLiteral("Expert Mode 1"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->role(), QAccessible::CheckBox);
    toggle(box);
    EXPECT_TRUE(window->cbExpertMode1->isChecked());
    EXPECT_TRUE(box->state().checked);
    EXPECT_TRUE(expert1->isVisible());

    // Panel 2 is disabled: its box offers no toggle and does not change.
    QAccessibleInterface* box2 = named(window->gbSpectroGraph2, QStringLiteral("Expert Mode 2"));
    ASSERT_NE(box2, nullptr);
    EXPECT_TRUE(box2->state().disabled);
    box2->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(window->cbExpertMode2->isChecked());
    EXPECT_FALSE(expert2->isVisible());
}
