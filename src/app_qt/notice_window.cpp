#include "app_qt/notice_window.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QBoxLayout>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "notify/dispatch.h"

namespace {

bool OnX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// The window's type as the X11 window managers read it: a notification, or
// a utility window for one that does not know that type.
void MarkAsNotification(QWidget& window) {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) {
        return;
    }
    xcb_connection_t* connection = x11->connection();
    const auto atom = [connection](const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t found = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return found;
    };
    const xcb_atom_t types[] = {atom("_NET_WM_WINDOW_TYPE_NOTIFICATION"),
                                atom("_NET_WM_WINDOW_TYPE_UTILITY")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE,
                        static_cast<xcb_window_t>(window.winId()), atom("_NET_WM_WINDOW_TYPE"),
                        XCB_ATOM_ATOM, 32, 2, types);
    xcb_flush(connection);
}

// Screen readers see a notice window as a notification, named by its title
// and described by its text.
void RegisterNoticeAccessibility() {
    QAccessible::installFactory([](const QString& className, QObject* object) {
        return className == QLatin1String("CNoticeWindow") && object != nullptr
                   ? static_cast<QAccessibleInterface*>(new QAccessibleWidget(
                         static_cast<QWidget*>(object), QAccessible::Notification))
                   : nullptr;
    });
}

}  // namespace

// One notice: its kind's icon, its title above its text (the service's words,
// never markup), sized from the font.
class CNoticeWindow : public QFrame {
    Q_OBJECT
public:
    CNoticeWindow(const DesktopNotification& notice, std::function<void(CNoticeWindow*)> closed)
        : QFrame(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
          m_closed(std::move(closed)) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
        const QString title = QString::fromStdString(notice.summary);
        const QString text = QString::fromStdString(notice.body);
        setWindowTitle(title);
        setAccessibleName(title);
        setAccessibleDescription(text);

        auto* layout = new QHBoxLayout(this);
        auto* icon = new QLabel(this);
        const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
        icon->setPixmap(KindIcon(notice.icon).pixmap(iconSize, iconSize));
        layout->addWidget(icon, 0, Qt::AlignTop);
        auto* words = new QVBoxLayout();
        layout->addLayout(words, 1);
        // About forty characters a line, in the font the person reads.
        const int lineWidth = fontMetrics().averageCharWidth() * 40;
        for (const QString& line : {title, text}) {
            auto* label = new QLabel(line, this);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setFixedWidth(lineWidth);
            if (line.isEmpty()) {
                label->hide();
            }
            words->addWidget(label);
            if (words->count() == 1) {
                QFont bold = label->font();
                bold.setBold(true);
                label->setFont(bold);
            }
        }
        adjustSize();
        if (OnX11()) {
            MarkAsNotification(*this);
        }
        m_expiry.setSingleShot(true);
        m_expiry.setInterval(notice.expireTimeoutMs > 0 ? notice.expireTimeoutMs
                                                        : kDesktopNotificationTimeoutMs);
        connect(&m_expiry, &QTimer::timeout, this, &QWidget::close);
    }

    // Shows it without taking the keyboard, and tells the screen readers.
    void Appear() {
        show();
        raise();
        m_expiry.start();
        QAccessibleEvent shown(this, QAccessible::Alert);
        QAccessible::updateAccessibility(&shown);
    }

    // Taken down by the stack: no word back to it.
    void Dismiss() {
        m_closed = nullptr;
        close();
    }

protected:
    void mousePressEvent(QMouseEvent*) override { close(); }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            close();
        } else {
            QFrame::keyPressEvent(event);
        }
    }
    // The time stops while the person reads with the pointer on it.
    void enterEvent(QEnterEvent*) override {
        if (m_expiry.isActive()) {
            m_remaining = m_expiry.remainingTime();
            m_expiry.stop();
        }
    }
    void leaveEvent(QEvent*) override {
        if (m_remaining >= 0) {
            m_expiry.start(m_remaining);
            m_remaining = -1;
        }
    }
    void closeEvent(QCloseEvent* event) override {
        QFrame::closeEvent(event);
        if (m_closed) {
            const auto closed = std::move(m_closed);
            m_closed = nullptr;
            closed(this);
        }
    }

private:
    // The kind's themed icon (the product's with an emblem, when installed),
    // else the style's icon of the kind, else the program's.
    QIcon KindIcon(const std::string& name) const {
        const struct {
            uint32_t kind;
            QStyle::StandardPixmap standard;
        } kinds[] = {
            {kBalloonIconInfo, QStyle::SP_MessageBoxInformation},
            {2, QStyle::SP_MessageBoxWarning},  // NIIF_WARNING
            {kBalloonIconError, QStyle::SP_MessageBoxCritical},
        };
        for (const auto& k : kinds) {
            if (name == BalloonIconName(k.kind)) {
                return QIcon::fromTheme(QString::fromStdString(name),
                                        style()->standardIcon(k.standard));
            }
        }
        return QApplication::windowIcon();
    }

    std::function<void(CNoticeWindow*)> m_closed;
    QTimer m_expiry;
    int m_remaining = -1;  // the time left while the pointer rests on it
};

CNoticeStack::CNoticeStack() {
    RegisterNoticeAccessibility();
}

CNoticeStack::~CNoticeStack() {
    CloseAll();
}

void CNoticeStack::Show(const DesktopNotification& notice) {
    while (m_shown.size() >= kMaxShown) {
        CNoticeWindow* oldest = m_shown.back();
        m_shown.pop_back();
        oldest->Dismiss();
        oldest->deleteLater();
    }
    auto* window = new CNoticeWindow(notice, [this](CNoticeWindow* closed) { Closed(closed); });
    m_shown.push_front(window);
    Arrange();
    window->Appear();
}

void CNoticeStack::CloseAll() {
    std::deque<CNoticeWindow*> shown;
    shown.swap(m_shown);
    for (CNoticeWindow* window : shown) {
        window->Dismiss();
        delete window;
    }
}

void CNoticeStack::Closed(CNoticeWindow* window) {
    std::erase(m_shown, window);
    window->deleteLater();  // it is in its own event handler now
    Arrange();
}

void CNoticeStack::Arrange() {
    // A Wayland compositor places windows itself.
    if (!OnX11() || m_shown.empty()) {
        return;
    }
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const int margin = m_shown.front()->fontMetrics().height();
    const bool rightToLeft = QGuiApplication::layoutDirection() == Qt::RightToLeft;
    int top = area.top() + margin;
    for (CNoticeWindow* window : m_shown) {
        const int left =
            rightToLeft ? area.left() + margin : area.right() + 1 - window->width() - margin;
        window->move(left, top);
        top += window->height() + margin / 2;
    }
}

#include "notice_window.moc"
