#pragma once
// Hears the settings portal announce a new colour scheme (for ui/Theme).
#include <QDBusMessage>
#include <QObject>

class SchemeListener : public QObject {
    Q_OBJECT
public slots:
    void settingChanged(const QDBusMessage& message);
};
