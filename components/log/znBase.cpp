#include "znBase.h"

TznComponent::TznComponent(QObject* owner) : QObject(owner) {}

QString TznComponent::About() const {
    return QString::fromLatin1(znAboutText);
}

void TznComponent::SetAbout(const QString& value) {
    Q_UNUSED(value);
}
