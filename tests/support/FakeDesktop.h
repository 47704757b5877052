#pragma once
// A desktop service on the test session's bus, as a locked screen, an idle
// monitor or a do-not-disturb switch would answer.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>

// One desktop service answering GetActive or Properties.Get with `value`.
class FakeDesktop : public QDBusVirtualObject {
public:
    FakeDesktop(QDBusConnection bus, QString path, QString iface, QString property, QVariant value)
        : bus_(bus), path_(path), iface_(iface), property_(property), value_(value) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& c) override
    {
        c.send(m.createReply(property_.isEmpty() ? value_ : QVariant::fromValue(QDBusVariant(value_))));
        return true;
    }
    void setValue(QVariant value) { value_ = value; }
    void signal(bool on)
    {
        bus_.send(property_.isEmpty()
                      ? QDBusMessage::createSignal(path_, iface_, QStringLiteral("ActiveChanged")) << on
                      : QDBusMessage::createSignal(path_, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"))
                            << iface_ << QVariantMap {{property_, on}} << QStringList {});
    }

private:
    QDBusConnection bus_;
    QString path_, iface_, property_;
    QVariant value_;
};
