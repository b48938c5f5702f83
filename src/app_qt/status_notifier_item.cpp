#include "app_qt/status_notifier_item.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QtEndian>

#include "app_qt/focus_hand_over.h"
#include "notify/desktop_application.h"

// ---- the types on the wire -------------------------------------------------

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.data;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap) {
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.data;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& tip) {
    argument.beginStructure();
    argument << tip.iconName << tip.icon << tip.title << tip.text;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip) {
    argument.beginStructure();
    argument >> tip.iconName >> tip.icon >> tip.title >> tip.text;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DbusMenuItem& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DbusMenuItem& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DbusMenuLayoutItem& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    // The children are variants, each holding an (ia{sv}av) of its own.
    argument.beginArray(qMetaTypeId<QDBusVariant>());
    for (const DbusMenuLayoutItem& child : item.children) {
        argument << QDBusVariant(QVariant::fromValue(child));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DbusMenuLayoutItem& item) {
    // Only sent, never read: the children are left out.
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DbusMenuEvent& event) {
    argument.beginStructure();
    argument << event.id << event.eventId << event.data << event.timestamp;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DbusMenuEvent& event) {
    argument.beginStructure();
    argument >> event.id >> event.eventId >> event.data >> event.timestamp;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DbusMenuRemoved& removed) {
    argument.beginStructure();
    argument << removed.id << removed.names;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DbusMenuRemoved& removed) {
    argument.beginStructure();
    argument >> removed.id >> removed.names;
    argument.endStructure();
    return argument;
}

void RegisterTrayDbusTypes() {
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmaps>();
    qDBusRegisterMetaType<SniToolTip>();
    qDBusRegisterMetaType<DbusMenuItem>();
    qDBusRegisterMetaType<DbusMenuItems>();
    qDBusRegisterMetaType<DbusMenuLayoutItem>();
    qDBusRegisterMetaType<DbusMenuEvent>();
    qDBusRegisterMetaType<DbusMenuEvents>();
    qDBusRegisterMetaType<DbusMenuRemoved>();
    qDBusRegisterMetaType<DbusMenuRemovedList>();
}

namespace {

// The icon's sizes up to 64 pixels (a host scales them), as ARGB32 words in
// network byte order.
SniPixmaps IconPixmaps(const QIcon& icon) {
    SniPixmaps pixmaps;
    for (const QSize& size : icon.availableSizes()) {
        if (size.width() > 64 || size.width() != size.height()) {
            continue;
        }
        const QImage image =
            icon.pixmap(size, 1.0).toImage().scaled(size).convertToFormat(QImage::Format_ARGB32);
        SniPixmap pixmap{size.width(), size.height(), {}};
        pixmap.data.resize(4 * size.width() * size.height());
        auto* out = reinterpret_cast<uchar*>(pixmap.data.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, out += 4) {
                qToBigEndian<quint32>(line[x], out);
            }
        }
        pixmaps.append(pixmap);
    }
    return pixmaps;
}

}  // namespace

QString InstalledIconFolder() {
    QStringList folders{QCoreApplication::applicationDirPath() + QStringLiteral("/../share")};
    const QString home = qEnvironmentVariable("XDG_DATA_HOME");
    folders << (home.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : home);
    const QString data = qEnvironmentVariable("XDG_DATA_DIRS");
    folders << (data.isEmpty() ? QStringLiteral("/usr/local/share:/usr/share") : data)
                   .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& folder : folders) {
        const QString icons = folder + QStringLiteral("/icons");
        if (QFileInfo::exists(icons + QStringLiteral("/hicolor/scalable/apps/") +
                              QLatin1String(kItemIconName) + QStringLiteral(".svg"))) {
            return QDir::cleanPath(icons);
        }
    }
    return QString();
}

// ---- org.kde.StatusNotifierItem --------------------------------------------

CStatusNotifierItem::CStatusNotifierItem(const QIcon& icon, const QString& tip,
                                         const QString& menuPath, QObject* parent)
    : QObject(parent),
      m_pixmaps(IconPixmaps(icon)),
      m_iconFolder(InstalledIconFolder()),
      m_tip(tip),
      m_menuPath(menuPath) {}

QString CStatusNotifierItem::Status() const {
    return m_attention ? QStringLiteral("NeedsAttention") : QStringLiteral("Active");
}

QString CStatusNotifierItem::IconName() const {
    return m_iconFolder.isEmpty() ? QString() : QString::fromUtf8(kItemIconName);
}

QString CStatusNotifierItem::AttentionIconName() const {
    return m_iconFolder.isEmpty() ? QString() : QString::fromUtf8(kItemAttentionIconName);
}

void CStatusNotifierItem::SetAttention(bool attention) {
    if (attention == m_attention) {
        return;
    }
    m_attention = attention;
    if (attention) {
        emit NewAttentionIcon();
    }
    emit NewStatus(Status());
}

QString CStatusNotifierItem::Id() const {
    return QCoreApplication::applicationName();
}

QString CStatusNotifierItem::Title() const {
    return QString::fromUtf8(kTrayTitle);
}

SniToolTip CStatusNotifierItem::ToolTip() const {
    return SniToolTip{QString(), {}, m_tip, QString()};
}

// The host waits for no answer of ours: what a click starts runs once the
// call has returned (a box it opens may wait for the user).
void CStatusNotifierItem::Activate(int, int) {
    QMetaObject::invokeMethod(
        this, [this] { onActivate(); }, Qt::QueuedConnection);
}

void CStatusNotifierItem::SecondaryActivate(int, int) {}

void CStatusNotifierItem::ContextMenu(int x, int y) {
    QMetaObject::invokeMethod(
        this, [this, x, y] { onContextMenu(x, y); }, Qt::QueuedConnection);
}

void CStatusNotifierItem::Scroll(int, const QString&) {}

// Plasma's host calls it just before Activate, with the token of the click
// (empty on X11); the settings program the click starts gets it.
void CStatusNotifierItem::ProvideXdgActivationToken(const QString& token) {
    KeepTrayActivationToken(token);
}

// ---- com.canonical.dbusmenu ------------------------------------------------

CDbusMenu::CDbusMenu(QMenu* menu, QObject* parent) : QObject(parent), m_menu(menu) {}

QString CDbusMenu::TextDirection() const {
    return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl")
                                                                 : QStringLiteral("ltr");
}

bool CDbusMenu::Properties(int id, const QStringList& names, QVariantMap* properties) const {
    QVariantMap all;
    if (id == kTrayMenuRootId) {
        all.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else {
        const std::optional<size_t> entry = TrayMenuEntryOfId(id);
        const QList<QAction*> actions = m_menu->actions();
        if (!entry || *entry >= static_cast<size_t>(actions.size())) {
            return false;
        }
        const QAction* action = actions[static_cast<qsizetype>(*entry)];
        // The access key, "&" in Qt's text, is "_" in a dbusmenu label.
        all.insert(QStringLiteral("label"),
                   QString::fromStdString(DbusMenuLabel(action->text().toStdString())));
        all.insert(QStringLiteral("enabled"), action->isEnabled());
        all.insert(QStringLiteral("visible"), action->isVisible());
    }
    if (names.isEmpty()) {
        *properties = all;
    } else {
        properties->clear();
        for (const QString& name : names) {
            if (all.contains(name)) {
                properties->insert(name, all.value(name));
            }
        }
    }
    return true;
}

uint CDbusMenu::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                          DbusMenuLayoutItem& layout) {
    layout = DbusMenuLayoutItem{parentId, {}, {}};
    if (!Properties(parentId, propertyNames, &layout.properties)) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("unknown menu id"));
        return 0;
    }
    // Only the menu itself has children, the entries, which have none.
    if (parentId == kTrayMenuRootId && recursionDepth != 0) {
        for (qsizetype i = 0; i < m_menu->actions().size(); ++i) {
            DbusMenuLayoutItem child{TrayMenuId(static_cast<size_t>(i)), {}, {}};
            Properties(child.id, propertyNames, &child.properties);
            layout.children.append(child);
        }
    }
    return 1;  // the layout's revision: the menu never changes
}

DbusMenuItems CDbusMenu::GetGroupProperties(const QList<int>& ids,
                                            const QStringList& propertyNames) {
    DbusMenuItems items;
    for (int id : ids) {
        DbusMenuItem item{id, {}};
        if (Properties(id, propertyNames, &item.properties)) {
            items.append(item);
        }
    }
    return items;
}

QDBusVariant CDbusMenu::GetProperty(int id, const QString& name) {
    QVariantMap properties;
    if (!Properties(id, {name}, &properties) || !properties.contains(name)) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("unknown menu id or property"));
        return QDBusVariant(QVariant(0));
    }
    return QDBusVariant(properties.value(name));
}

bool CDbusMenu::Click(int id, const QString& eventId, uint timestamp) {
    QVariantMap unused;
    if (!Properties(id, {}, &unused)) {
        return false;
    }
    const std::optional<size_t> entry = TrayMenuEntryClicked(id, eventId.toStdString());
    if (entry) {
        // After the host has its answer: the command may open a box that
        // waits for the user. It takes the click's time.
        KeepTrayMenuTime(timestamp);
        QAction* action = m_menu->actions()[static_cast<qsizetype>(*entry)];
        QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    }
    return true;
}

void CDbusMenu::Event(int id, const QString& eventId, const QDBusVariant&, uint timestamp) {
    if (!Click(id, eventId, timestamp)) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("unknown menu id"));
    }
}

QList<int> CDbusMenu::EventGroup(const QList<DbusMenuEvent>& events) {
    QList<int> idErrors;
    for (const DbusMenuEvent& event : events) {
        if (!Click(event.id, event.eventId, event.timestamp)) {
            idErrors.append(event.id);
        }
    }
    return idErrors;
}

bool CDbusMenu::AboutToShow(int) {
    return false;  // the layout never changes
}

QList<int> CDbusMenu::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    QVariantMap unused;
    for (int id : ids) {
        if (!Properties(id, {}, &unused)) {
            idErrors.append(id);
        }
    }
    return {};
}
