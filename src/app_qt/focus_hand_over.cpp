#include "app_qt/focus_hand_over.h"

#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

#include <QSysInfo>

#include <cstdlib>
#include <string_view>
#include <utility>

#include "app_qt/xdg_activation_request.h"

namespace {

// kFocusTokenKinds' index of the xdg-activation token.
constexpr size_t kXdgActivation = 0;
constexpr size_t kStartupId = 1;  // ... and of the X11 startup id
static_assert(std::string_view(kFocusTokenKinds[kXdgActivation].platformDataKey) ==
              "activation-token");
static_assert(std::string_view(kFocusTokenKinds[kStartupId].platformDataKey) ==
              "desktop-startup-id");

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

uint g_trayMenuTime = 0;

// `window` asks for activation with `token` once the event loop has shown it
// (Wayland only: windows there take a token after the start).
void ActivateWith(QWidget* window, const QString& token) {
    if (token.isEmpty() || !QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return;
    }
    FocusTokens tokens;
    tokens.values[kXdgActivation] = token;
    QMetaObject::invokeMethod(
        window,
        [window = QPointer<QWidget>(window), tokens] {
            if (window != nullptr && window->isVisible()) {
                WithEnvironment(tokens, [&window] { window->activateWindow(); });
            }
        },
        Qt::QueuedConnection);
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
    if (tokens.values[kXdgActivation].isEmpty() &&
        QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        tokens.values[kXdgActivation] = tokens.values[kStartupId];
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

void KeepTrayMenuTime(uint timestamp) {
    g_trayMenuTime = timestamp;
}

void RunWithTrayMenuTokens(QObject* context, std::function<void(const FocusTokens&)> run) {
    const uint time = std::exchange(g_trayMenuTime, 0u);
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        // Long enough for a busy compositor, short enough to pass unnoticed
        // before the program starts; the interface goes on meanwhile.
        constexpr int kTokenBoundMs = 300;
        RequestXdgActivationToken(context, kTokenBoundMs,
                                  [run = std::move(run)](const QString& token) {
                                      FocusTokens tokens;
                                      tokens.values[kXdgActivation] = Usable(token);
                                      run(tokens);
                                  });
        return;
    }
    FocusTokens tokens;
    if (time != 0 && QGuiApplication::platformName() == QLatin1String("xcb")) {
        static unsigned sequence = 0;
        tokens.values[kStartupId] = QStringLiteral("orlivan-notifier-%1-%2-%3_TIME%4")
                                        .arg(QCoreApplication::applicationPid())
                                        .arg(QSysInfo::machineHostName())
                                        .arg(++sequence)
                                        .arg(time);
    }
    run(tokens);
}

CFocusHandOver::CFocusHandOver(QObject* parent) : QObject(parent) {}

void CFocusHandOver::Begin(const FocusTokens& tokens) {
    m_current = tokens;
}

void CFocusHandOver::Launch(const std::function<void()>& launch) {
    WithEnvironment(m_current, launch);
    m_current = FocusTokens();
}

void CFocusHandOver::Activate(QWidget* window) {
    ActivateWith(window, std::exchange(m_current.values[kXdgActivation], QString()));
}

void CFocusHandOver::KeepForAnswer() {
    m_forAnswer = std::exchange(m_current.values[kXdgActivation], QString());
}

void CFocusHandOver::ActivateAnswer(QWidget* window) {
    ActivateWith(window, std::exchange(m_forAnswer, QString()));
}

void CFocusHandOver::End() {
    m_current = FocusTokens();
}
