// The tray icon as a StatusNotifierItem with its menu over D-Bus: the two
// objects a panel's host reads (org.kde.StatusNotifierItem and
// com.canonical.dbusmenu) and the types they carry. CTray (tray.h) owns them.
#pragma once

#include <QByteArray>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

class QIcon;
class QMenu;

// (iiay): one size of the icon, ARGB32 in network byte order.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray data;
};
using SniPixmaps = QList<SniPixmap>;

// (sa(iiay)ss): icon name, icon, title, text.
struct SniToolTip {
    QString iconName;
    SniPixmaps icon;
    QString title;
    QString text;
};

// (ia{sv}): an entry's properties.
struct DbusMenuItem {
    int id = 0;
    QVariantMap properties;
};
using DbusMenuItems = QList<DbusMenuItem>;

// (ia{sv}av): an entry with its children.
struct DbusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<DbusMenuLayoutItem> children;
};

// (isvu): one event of EventGroup.
struct DbusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DbusMenuEvents = QList<DbusMenuEvent>;

// (ias): an entry's removed properties.
struct DbusMenuRemoved {
    int id = 0;
    QStringList names;
};
using DbusMenuRemovedList = QList<DbusMenuRemoved>;

Q_DECLARE_METATYPE(SniPixmap)
Q_DECLARE_METATYPE(SniToolTip)
Q_DECLARE_METATYPE(DbusMenuItem)
Q_DECLARE_METATYPE(DbusMenuLayoutItem)
Q_DECLARE_METATYPE(DbusMenuEvent)
Q_DECLARE_METATYPE(DbusMenuRemoved)

// Registers the types with QtDBus; once, before the objects are exported.
void RegisterTrayDbusTypes();

// The icon's names in the hicolor theme (the package installs them, each
// with a "-symbolic" variant a panel tints to its colours).
inline constexpr char kItemIconName[] = "orlivan-notifier";
inline constexpr char kItemAttentionIconName[] = "orlivan-notifier-attention";

// The icon folder (as "<prefix>/share/icons") whose hicolor theme holds the
// item's icon: beside the program's own prefix first, then the desktop's data
// folders; empty when the icon is not installed (a build run in place).
QString InstalledIconFolder();

// org.kde.StatusNotifierItem: the icon, tip and title, and what a click on
// the item asks for (run on the event loop, after the host has its answer).
// The icon goes by its theme name where it is installed, with the pixmaps
// for hosts that can't find it; the status asks for attention while a box
// waits for the person.
class CStatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ Category)
    Q_PROPERTY(QString Id READ Id)
    Q_PROPERTY(QString Title READ Title)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(QString IconName READ IconName)
    Q_PROPERTY(QString AttentionIconName READ AttentionIconName)
    Q_PROPERTY(QString IconThemePath READ IconThemePath)
    Q_PROPERTY(SniPixmaps IconPixmap READ IconPixmap)
    Q_PROPERTY(SniToolTip ToolTip READ ToolTip)
    Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ Menu)
public:
    CStatusNotifierItem(const QIcon& icon, const QString& tip, const QString& menuPath,
                        QObject* parent);

    std::function<void()> onActivate;
    std::function<void(int x, int y)> onContextMenu;

    QString Category() const { return QStringLiteral("ApplicationStatus"); }
    QString Id() const;
    QString Title() const;
    QString Status() const;
    // Empty without an installed icon: the pixmaps stand for it.
    QString IconName() const;
    QString AttentionIconName() const;
    QString IconThemePath() const { return m_iconFolder; }
    SniPixmaps IconPixmap() const { return m_pixmaps; }
    SniToolTip ToolTip() const;
    bool ItemIsMenu() const { return false; }
    QDBusObjectPath Menu() const { return QDBusObjectPath(m_menuPath); }

public slots:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);
    void ProvideXdgActivationToken(const QString& token);

public:
    // NeedsAttention or Active, told to the host when it changes.
    void SetAttention(bool attention);

signals:
    void NewIcon();
    void NewToolTip();
    void NewStatus(const QString& status);
    void NewAttentionIcon();
    void NewTitle();

private:
    SniPixmaps m_pixmaps;
    QString m_iconFolder;
    bool m_attention = false;
    QString m_tip;
    QString m_menuPath;
};

// com.canonical.dbusmenu: the entries of a QMenu, flat, ids from the tray
// menu's table; a click runs the entry's action.
class CDbusMenu : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ Version)
    Q_PROPERTY(QString TextDirection READ TextDirection)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(QStringList IconThemePath READ IconThemePath)
public:
    CDbusMenu(QMenu* menu, QObject* parent);

    uint Version() const { return 3; }
    QString TextDirection() const;
    QString Status() const { return QStringLiteral("normal"); }
    QStringList IconThemePath() const { return {}; }

    // The lists in parameters are spelled out: QtDBus leaves out a method or
    // signal whose parameter type is named by an alias.
public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   DbusMenuLayoutItem& layout);
    DbusMenuItems GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const QList<DbusMenuEvent>& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    void ItemsPropertiesUpdated(const QList<DbusMenuItem>& updatedProps,
                                const QList<DbusMenuRemoved>& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    // The properties of `id` (all when `names` is empty); false for an unknown id.
    bool Properties(int id, const QStringList& names, QVariantMap* properties) const;
    // Runs a click on `id` after the host has its answer; false for an unknown id.
    bool Click(int id, const QString& eventId, uint timestamp);

    QMenu* m_menu;
};
