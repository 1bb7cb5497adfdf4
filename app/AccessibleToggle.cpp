#include "AccessibleToggle.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QRadioButton>

namespace {

class ToggleAccessible : public QAccessibleWidget {
public:
    ToggleAccessible(QAbstractButton* Button, QAccessible::Role Role) : QAccessibleWidget(Button, Role) {}

    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            // The caption without its mnemonic marks ("&&" is a literal "&").
            QString caption = button()->text();
            caption.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
            caption.remove(u'&');
            caption.replace(u'\x01', u'&');
            return caption;
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        return s;
    }

    QStringList actionNames() const override {
        QStringList names;
        if (widget()->isEnabled())
            names << toggleAction() << pressAction();
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& Action) override {
        if (Action == toggleAction() || Action == pressAction()) {
            if (widget()->isEnabled())
                button()->click();
            return;
        }
        QAccessibleWidget::doAction(Action);
    }
};

} // namespace

QAccessibleInterface* accessibleToggleFactory(const QString& ClassName, QObject* Object) {
    if (ClassName == QLatin1String("QCheckBox"))
        if (auto* box = qobject_cast<QCheckBox*>(Object))
            return new ToggleAccessible(box, QAccessible::CheckBox);
    if (ClassName == QLatin1String("QRadioButton"))
        if (auto* radio = qobject_cast<QRadioButton*>(Object))
            return new ToggleAccessible(radio, QAccessible::RadioButton);
    return nullptr;
}

void installAccessibleToggles() {
    static const bool installed = [] {
        QAccessible::installFactory(&accessibleToggleFactory);
        return true;
    }();
    (void)installed;
}
