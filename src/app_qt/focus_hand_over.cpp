#include "app_qt/focus_hand_over.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

#include <cstdlib>
#include <string_view>

namespace {

// kFocusTokenKinds' index of the xdg-activation token.
constexpr size_t kXdgActivation = 0;
static_assert(std::string_view(kFocusTokenKinds[kXdgActivation].platformDataKey) ==
              "activation-token");

QString Usable(const QString& token) {
    return UsableFocusToken(token.toStdString()) ? token : QString();
}

// The tokens set in the environment while `run` runs, removed again after
// (interface thread; the notifier's other threads read no environment).
void WithEnvironment(const FocusTokens& tokens, const std::function<void()>& run) {
    for (size_t i = 0; i < kFocusTokenKindCount; ++i) {
        if (!tokens.values[i].isEmpty()) {
            qputenv(kFocusTokenKinds[i].environmentVariable, tokens.values[i].toUtf8());
        }
    }
    run();
    for (const FocusTokenKind& kind : kFocusTokenKinds) {
        qunsetenv(kind.environmentVariable);
    }
}

QString g_trayToken;

// A window or dialog of the notifier's own (not a menu, tip or other
// popup) that may take the keyboard (not one the notifier opened by itself).
bool TakesActivation(QObject* object) {
    if (!object->isWidgetType()) {
        return false;
    }
    const auto* widget = static_cast<QWidget*>(object);
    const Qt::WindowType type = widget->windowType();
    return (type == Qt::Window || type == Qt::Dialog) &&
           !widget->testAttribute(Qt::WA_ShowWithoutActivating);
}

}  // namespace

FocusTokens FocusTokens::FromPlatformData(const QVariantMap& platformData) {
    FocusTokens tokens;
    for (size_t i = 0; i < kFocusTokenKindCount; ++i) {
        const QVariant value =
            platformData.value(QString::fromUtf8(kFocusTokenKinds[i].platformDataKey));
        if (value.metaType() == QMetaType::fromType<QString>()) {
            tokens.values[i] = Usable(value.toString());
        }
    }
    return tokens;
}

FocusTokens FocusTokens::TakeFromEnvironment() {
    FocusTokens tokens;
    for (size_t i = 0; i < kFocusTokenKindCount; ++i) {
        const char* name = kFocusTokenKinds[i].environmentVariable;
        if (const char* value = std::getenv(name)) {
            tokens.values[i] = Usable(QString::fromUtf8(value));
        }
        unsetenv(name);
    }
    return tokens;
}

QVariantMap FocusTokens::PlatformData() const {
    QVariantMap data;
    for (size_t i = 0; i < kFocusTokenKindCount; ++i) {
        if (!values[i].isEmpty()) {
            data.insert(QString::fromUtf8(kFocusTokenKinds[i].platformDataKey), values[i]);
        }
    }
    return data;
}

void PresentBox(QWidget& box, BoxOpener opener) {
    const bool byProgram = opener == BoxOpener::Program;
    // On top, since a program in the background opened it, so it is not lost
    // behind other windows. Qt maps a window shown without activating with
    // _NET_WM_USER_TIME 0 on X11, and makes no activation request for it on
    // Wayland; the focus hand-over gives it no activation token either.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, byProgram);
    box.setAttribute(Qt::WA_ShowWithoutActivating, byProgram);
}

void KeepTrayActivationToken(const QString& token) {
    g_trayToken = Usable(token);
}

FocusTokens TakeTrayActivationTokens() {
    // The host's token is an xdg-activation token (empty on X11).
    FocusTokens tokens;
    tokens.values[kXdgActivation] = g_trayToken;
    g_trayToken.clear();
    return tokens;
}

CFocusHandOver::CFocusHandOver(QObject* parent) : QObject(parent) {
    qApp->installEventFilter(this);
}

void CFocusHandOver::Begin(const FocusTokens& tokens) {
    m_current = tokens;
    // A window of the notifier's own takes the xdg-activation token when the
    // command shows one, now or when its answer comes; only Wayland's windows
    // take a token after the start (on X11 Qt reads DESKTOP_STARTUP_ID once,
    // when the application starts).
    if (!tokens.values[kXdgActivation].isEmpty() &&
        QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        m_forNextWindow = tokens.values[kXdgActivation];
    }
}

void CFocusHandOver::Launch(const std::function<void()>& launch) {
    WithEnvironment(m_current, launch);
    m_current = FocusTokens();
    m_forNextWindow.clear();
}

void CFocusHandOver::End() {
    m_current = FocusTokens();
}

bool CFocusHandOver::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && !m_forNextWindow.isEmpty() && TakesActivation(watched)) {
        // The Show event comes before the window is on screen: it asks for
        // activation once the event loop has shown it.
        FocusTokens tokens;
        tokens.values[kXdgActivation] = m_forNextWindow;
        m_forNextWindow.clear();
        QPointer<QWidget> window(static_cast<QWidget*>(watched));
        QMetaObject::invokeMethod(
            this,
            [window, tokens] {
                if (window != nullptr && window->isVisible()) {
                    WithEnvironment(tokens, [&window] { window->activateWindow(); });
                }
            },
            Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}
