#include "app/DBusMenu.h"

#include <QAction>
#include <QActionEvent>
#include <QActionGroup>
#include <QDBusMetaType>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItem& item)
{
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItem& item)
{
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItemKeys& keys)
{
    arg.beginStructure();
    arg << keys.id << keys.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItemKeys& keys)
{
    arg.beginStructure();
    arg >> keys.id >> keys.properties;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuLayoutItem& item)
{
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.beginArray(qMetaTypeId<QDBusVariant>());
    for (const DBusMenuLayoutItem& child : item.children)
        arg << QDBusVariant(QVariant::fromValue(child));
    arg.endArray();
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuLayoutItem& item)
{
    arg.beginStructure();
    arg >> item.id >> item.properties;
    item.children.clear();
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        DBusMenuLayoutItem parsed;
        const QVariant value = child.variant();
        if (value.canConvert<QDBusArgument>())
            value.value<QDBusArgument>() >> parsed;
        else
            parsed = value.value<DBusMenuLayoutItem>();
        item.children.append(parsed);
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuEvent& event)
{
    arg.beginStructure();
    arg << event.id << event.eventId << event.data << event.timestamp;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuEvent& event)
{
    arg.beginStructure();
    arg >> event.id >> event.eventId >> event.data >> event.timestamp;
    arg.endStructure();
    return arg;
}

void DBusMenuExporter::registerTypes()
{
    static const bool once = [] {
        qDBusRegisterMetaType<DBusMenuItem>();
        qDBusRegisterMetaType<DBusMenuItemList>();
        qDBusRegisterMetaType<DBusMenuItemKeys>();
        qDBusRegisterMetaType<DBusMenuItemKeysList>();
        qDBusRegisterMetaType<DBusMenuLayoutItem>();
        qDBusRegisterMetaType<DBusMenuEvent>();
        qDBusRegisterMetaType<DBusMenuEventList>();
        qDBusRegisterMetaType<DBusMenuShortcut>();
        qDBusRegisterMetaType<QList<int>>();
        // Signals and slots name the lists by these aliases.
        qRegisterMetaType<DBusMenuItemList>("DBusMenuItemList");
        qRegisterMetaType<DBusMenuItemKeysList>("DBusMenuItemKeysList");
        qRegisterMetaType<DBusMenuEventList>("DBusMenuEventList");
        return true;
    }();
    Q_UNUSED(once);
}

DBusMenuShortcut DBusMenuExporter::shortcutOf(const QKeySequence& sequence)
{
    DBusMenuShortcut shortcut;
    for (int i = 0; i < sequence.count(); ++i) {
        const QKeyCombination press = sequence[i];
        const Qt::KeyboardModifiers mods = press.keyboardModifiers();
        QStringList tokens;
        if (mods & Qt::MetaModifier)
            tokens << QStringLiteral("Super");
        if (mods & Qt::ControlModifier)
            tokens << QStringLiteral("Control");
        if (mods & Qt::AltModifier)
            tokens << QStringLiteral("Alt");
        if (mods & Qt::ShiftModifier)
            tokens << QStringLiteral("Shift");
        const QString key = QKeySequence(press.key()).toString(QKeySequence::PortableText);
        // "+" and "-" would read as separators in the joined form hosts parse.
        tokens << (key == QLatin1String("+") ? QStringLiteral("plus")
                   : key == QLatin1String("-") ? QStringLiteral("minus")
                                               : key);
        shortcut << tokens;
    }
    return shortcut;
}

QString DBusMenuExporter::labelOf(const QString& text)
{
    QString label;
    label.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('_')) {
            label += QStringLiteral("__");
        } else if (c == QLatin1Char('&')) {
            // "&&" is a literal ampersand, "&x" marks x as the access key.
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('&')) {
                label += QLatin1Char('&');
                ++i;
            } else if (i + 1 < text.size()) {
                label += QLatin1Char('_');
            }
        } else {
            label += c;
        }
    }
    return label;
}

DBusMenuExporter::DBusMenuExporter(QMenu* menu, QObject* parent) : QObject(parent), menu_(menu), filtered_(menu)
{
    registerTypes();
    if (menu_)
        menu_->installEventFilter(this);
}

DBusMenuExporter::~DBusMenuExporter()
{
    if (menu_)
        menu_->removeEventFilter(this);
}

QString DBusMenuExporter::textDirection() const
{
    return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl") : QStringLiteral("ltr");
}

int DBusMenuExporter::idOf(QAction* action)
{
    auto it = ids_.constFind(action);
    if (it != ids_.constEnd())
        return *it;
    const int id = nextId_++;
    ids_.insert(action, id);
    actions_.insert(id, action);
    return id;
}

QAction* DBusMenuExporter::actionOf(int id) const
{
    QAction* action = actions_.value(id);
    return action && menu_ && menu_->actions().contains(action) ? action : nullptr;
}

QVariantMap DBusMenuExporter::propertiesOf(int id, const QStringList& names) const
{
    QVariantMap props;
    if (id == 0) {
        props.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (QAction* a = actionOf(id)) {
        props.insert(QStringLiteral("visible"), a->isVisible());
        if (a->isSeparator()) {
            props.insert(QStringLiteral("type"), QStringLiteral("separator"));
        } else {
            props.insert(QStringLiteral("label"), labelOf(a->text()));
            props.insert(QStringLiteral("enabled"), a->isEnabled());
            if (!a->shortcut().isEmpty())
                props.insert(QStringLiteral("shortcut"), QVariant::fromValue(shortcutOf(a->shortcut())));
            if (a->isCheckable()) {
                props.insert(QStringLiteral("toggle-type"),
                             a->actionGroup() && a->actionGroup()->isExclusive() ? QStringLiteral("radio")
                                                                                 : QStringLiteral("checkmark"));
                props.insert(QStringLiteral("toggle-state"), a->isChecked() ? 1 : 0);
            }
        }
    }
    if (names.isEmpty())
        return props;
    QVariantMap wanted;
    for (const QString& name : names)
        if (props.contains(name))
            wanted.insert(name, props.value(name));
    return wanted;
}

void DBusMenuExporter::unknownId(int id)
{
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("No menu item with id %1").arg(id));
}

uint DBusMenuExporter::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                 DBusMenuLayoutItem& layout)
{
    layout = {};
    if (parentId != 0 && !actionOf(parentId)) {
        unknownId(parentId);
        return revision_;
    }
    layout.id = parentId;
    layout.properties = propertiesOf(parentId, propertyNames);
    // Only the root has children: the menu is one level deep.
    if (parentId == 0 && recursionDepth != 0 && menu_) {
        for (QAction* a : menu_->actions()) {
            const int id = idOf(a);
            layout.children.append({id, propertiesOf(id, propertyNames), {}});
        }
    }
    return revision_;
}

DBusMenuItemList DBusMenuExporter::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames)
{
    DBusMenuItemList items;
    for (int id : ids)
        if (id == 0 || actionOf(id))
            items.append({id, propertiesOf(id, propertyNames)});
    return items;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name)
{
    if (id != 0 && !actionOf(id)) {
        unknownId(id);
        return QDBusVariant(QVariant(0));
    }
    const QVariantMap props = propertiesOf(id, {name});
    if (!props.contains(name) && calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("Menu item %1 has no property %2").arg(id).arg(name));
    return QDBusVariant(props.value(name, 0));
}

bool DBusMenuExporter::handleEvent(int id, const QString& eventId)
{
    if (id == 0) {
        if (eventId == QLatin1String("opened"))
            refreshBeforeShowing();
        else if (eventId == QLatin1String("closed") && menu_)
            emit menu_->aboutToHide();
        return true;
    }
    QAction* action = actionOf(id);
    if (!action)
        return false;
    // After the reply: what the action opens must not hold up the host.
    if (eventId == QLatin1String("clicked") && action->isEnabled() && !action->isSeparator())
        QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    return true;
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant&, uint)
{
    if (!handleEvent(id, eventId))
        unknownId(id);
}

QList<int> DBusMenuExporter::EventGroup(const DBusMenuEventList& events)
{
    QList<int> idErrors;
    for (const DBusMenuEvent& e : events)
        if (!handleEvent(e.id, e.eventId))
            idErrors.append(e.id);
    if (!events.isEmpty() && idErrors.size() == events.size() && calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("None of the menu items exists"));
    return idErrors;
}

bool DBusMenuExporter::refreshBeforeShowing()
{
    const quint64 before = changes_;
    if (menu_)
        emit menu_->aboutToShow();
    return changes_ != before;
}

bool DBusMenuExporter::AboutToShow(int id)
{
    if (id != 0 && !actionOf(id)) {
        unknownId(id);
        return false;
    }
    return id == 0 && refreshBeforeShowing();
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
{
    QList<int> updatesNeeded;
    idErrors.clear();
    for (int id : ids) {
        if (id != 0 && !actionOf(id))
            idErrors.append(id);
        else if (id == 0 && refreshBeforeShowing())
            updatesNeeded.append(id);
    }
    return updatesNeeded;
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != filtered_)
        return false;
    switch (event->type()) {
    case QEvent::ActionAdded:
    case QEvent::ActionRemoved:
        if (event->type() == QEvent::ActionRemoved) {
            QAction* gone = static_cast<QActionEvent*>(event)->action();
            actions_.remove(ids_.take(gone));
        }
        ++changes_;
        emit LayoutUpdated(++revision_, 0);
        break;
    case QEvent::ActionChanged: {
        QAction* changed = static_cast<QActionEvent*>(event)->action();
        if (!ids_.contains(changed))
            break;
        ++changes_;
        const int id = ids_.value(changed);
        const QVariantMap props = propertiesOf(id, {});
        QStringList dropped;
        for (const char* optional : {"shortcut", "toggle-type", "toggle-state", "label", "enabled", "type"})
            if (!props.contains(QLatin1String(optional)))
                dropped << QLatin1String(optional);
        emit ItemsPropertiesUpdated({{id, props}}, {{id, dropped}});
        break;
    }
    default:
        break;
    }
    return false;
}
