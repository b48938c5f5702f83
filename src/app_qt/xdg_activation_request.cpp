#include "app_qt/xdg_activation_request.h"

#include <QSocketNotifier>
#include <QTimer>

#include <wayland-client.h>

#include <cstring>
#include <utility>

#include "notify/desktop_application.h"
#include "xdg-activation-v1-client-protocol.h"

namespace {

// The longest token taken from a compositor; a longer one is dropped.
constexpr size_t kMaxTokenLength = 4096;

class CXdgActivationRequest : public QObject {
public:
    CXdgActivationRequest(QObject* context, std::function<void(const QString&)> done)
        : QObject(context), m_done(std::move(done)) {}

    ~CXdgActivationRequest() override { Close(); }

    void Start(int bound_ms) {
        m_display = wl_display_connect(nullptr);
        if (m_display == nullptr) {
            Finish(QString());
            return;
        }
        m_registry = wl_display_get_registry(m_display);
        wl_registry_add_listener(m_registry, &kRegistryListener, this);
        // Answered after the compositor has announced its globals: without
        // xdg-activation among them there is nothing to wait for.
        m_sync = wl_display_sync(m_display);
        wl_callback_add_listener(m_sync, &kSyncListener, this);
        if (wl_display_flush(m_display) < 0) {
            Finish(QString());
            return;
        }
        m_reader = new QSocketNotifier(wl_display_get_fd(m_display), QSocketNotifier::Read, this);
        connect(m_reader, &QSocketNotifier::activated, this, [this] { ReadEvents(); });
        QTimer::singleShot(bound_ms, this, [this] { Finish(QString()); });
    }

private:
    void ReadEvents() {
        if (m_display == nullptr) {
            return;
        }
        // The socket has data, so reading does not wait.
        while (wl_display_prepare_read(m_display) != 0) {
            if (wl_display_dispatch_pending(m_display) < 0) {
                Finish(QString());
                return;
            }
        }
        if (wl_display_read_events(m_display) < 0 || wl_display_dispatch_pending(m_display) < 0) {
            Finish(QString());  // the compositor closed the connection
        }
    }

    void OnGlobal(uint32_t name, const char* interface, uint32_t version) {
        if (m_activation != nullptr ||
            std::strcmp(interface, xdg_activation_v1_interface.name) != 0 || version < 1) {
            return;
        }
        m_activation = static_cast<xdg_activation_v1*>(
            wl_registry_bind(m_registry, name, &xdg_activation_v1_interface, 1));
        m_token = xdg_activation_v1_get_activation_token(m_activation);
        xdg_activation_token_v1_add_listener(m_token, &kTokenListener, this);
        xdg_activation_token_v1_set_app_id(m_token, kApplicationId);
        xdg_activation_token_v1_commit(m_token);
        wl_display_flush(m_display);
    }

    void OnSynced() {
        wl_callback_destroy(std::exchange(m_sync, nullptr));
        if (m_activation == nullptr) {
            Finish(QString());  // the compositor offers no xdg-activation
        }
    }

    void OnToken(const char* token) {
        const size_t length = strnlen(token, kMaxTokenLength + 1);
        Finish(length <= kMaxTokenLength ? QString::fromUtf8(token, static_cast<qsizetype>(length))
                                         : QString());
    }

    // Calls back once. The connection is closed when the request goes: this
    // may run inside the connection's own dispatch, so that is left to the
    // event loop.
    void Finish(const QString& token) {
        if (!m_done) {
            return;
        }
        if (m_reader != nullptr) {
            m_reader->setEnabled(false);
        }
        std::exchange(m_done, nullptr)(token);
        deleteLater();
    }

    void Close() {
        if (m_token != nullptr) {
            xdg_activation_token_v1_destroy(std::exchange(m_token, nullptr));
        }
        if (m_activation != nullptr) {
            xdg_activation_v1_destroy(std::exchange(m_activation, nullptr));
        }
        if (m_sync != nullptr) {
            wl_callback_destroy(std::exchange(m_sync, nullptr));
        }
        if (m_registry != nullptr) {
            wl_registry_destroy(std::exchange(m_registry, nullptr));
        }
        if (m_display != nullptr) {
            wl_display_disconnect(std::exchange(m_display, nullptr));
        }
    }

    static void Global(void* data, wl_registry*, uint32_t name, const char* interface,
                       uint32_t version) {
        static_cast<CXdgActivationRequest*>(data)->OnGlobal(name, interface, version);
    }
    static void GlobalRemove(void*, wl_registry*, uint32_t) {}
    static void Synced(void* data, wl_callback*, uint32_t) {
        static_cast<CXdgActivationRequest*>(data)->OnSynced();
    }
    static void Done(void* data, xdg_activation_token_v1*, const char* token) {
        static_cast<CXdgActivationRequest*>(data)->OnToken(token);
    }

    static constexpr wl_registry_listener kRegistryListener = {&Global, &GlobalRemove};
    static constexpr wl_callback_listener kSyncListener = {&Synced};
    static constexpr xdg_activation_token_v1_listener kTokenListener = {&Done};

    std::function<void(const QString&)> m_done;
    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_callback* m_sync = nullptr;
    xdg_activation_v1* m_activation = nullptr;
    xdg_activation_token_v1* m_token = nullptr;
    QSocketNotifier* m_reader = nullptr;
};

}  // namespace

void RequestXdgActivationToken(QObject* context, int bound_ms,
                               std::function<void(const QString&)> done) {
    (new CXdgActivationRequest(context, std::move(done)))->Start(bound_ms);
}
