#pragma once
// Base class of the log library's components: a QObject with the library's About text.

#include <QObject>
#include <QString>

// Fixed library name and version shown by every component's About property.
inline constexpr char znAboutText[] = "zn log components 1.0 for Orvane";

// Root of the log library's non-visual components.
class TznComponent : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString About READ About WRITE SetAbout STORED false)

public:
    explicit TznComponent(QObject* owner = nullptr);

    QString About() const;
    // The About text is fixed; a form that stores a value must not change it.
    void SetAbout(const QString& value);
};
