#include "commands/command_exchange.h"

#include <cstdlib>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "base/wire_word.h"
#include "commands/command_reply.h"

namespace {

struct FreeBlock {
    void operator()(void* block) const { std::free(block); }
};
using Block = std::unique_ptr<void, FreeBlock>;

// Writes the request frame by `deadline`. The length word is repeated once on
// a new connection when its write fails (nothing of the exchange has reached
// the service then) and time is left; the body is written once.
bool WriteRequest(CCommandTransport& transport, const void* body, uint32_t size,
                  ExchangeDeadline deadline) {
    uint8_t lengthWord[4];
    StoreWireWord(size, lengthWord);
    if (transport.Write(sizeof lengthWord, lengthWord, deadline) == 0) {
        transport.Close();
        if (ExchangeClock::now() >= deadline || transport.Open() == 0 ||
            transport.Write(sizeof lengthWord, lengthWord, deadline) == 0) {
            return false;
        }
    }
    return transport.Write(size, body, deadline) != 0;
}

}  // namespace

void CExchangeLock::lock() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_free.wait(lock, [this] { return !m_held; });
    m_held = true;
}

bool CExchangeLock::try_lock_until(ExchangeDeadline deadline) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_free.wait_until(lock, deadline, [this] { return !m_held; })) {
        return false;
    }
    m_held = true;
    return true;
}

void CExchangeLock::unlock() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = false;
    }
    m_free.notify_one();
}

CCommandReply* SendCommandOver(CCommandTransport& transport, CComand& command) {
    // The bound runs from the call: the wait for the lock counts too.
    const ExchangeDeadline deadline = ExchangeClock::now() + transport.ExchangeTimeout();
    void* raw = nullptr;
    const int32_t size = command.Serialize(&raw);
    Block body(raw);
    // A request body is at least the 4-byte command code.
    if (body == nullptr || size < 4) {
        return nullptr;
    }
    const auto requestCode = static_cast<int32_t>(LoadWireWord(body.get()));

    std::unique_lock<CExchangeLock> exchange(transport.ExchangeLock(), deadline);
    if (!exchange.owns_lock()) {
        return nullptr;  // another exchange held the channel for the whole bound
    }
    CCommandReply* reply = nullptr;
    if (transport.Open() != 0 &&
        WriteRequest(transport, body.get(), static_cast<uint32_t>(size), deadline)) {
        reply = ReadReplyFrom(transport, requestCode, deadline);
    }
    transport.Close();
    return reply;
}

CCommandReply* ReadReplyFrom(CCommandTransport& transport, int32_t requestCode,
                             ExchangeDeadline deadline) {
    uint8_t lengthWord[4];
    if (transport.Read(sizeof lengthWord, lengthWord, deadline) == 0) {
        return nullptr;
    }
    const uint32_t length = LoadWireWord(lengthWord);
    if (length == 0 || length > COMMAND_REPLY_MAX_LENGTH) {
        return nullptr;
    }
    Block body(std::malloc(length));
    if (body == nullptr || transport.Read(length, body.get(), deadline) == 0) {
        return nullptr;
    }
    std::unique_ptr<CCommandReply> reply(
        ParseReplyBody(static_cast<const uint8_t*>(body.get()), length));
    int32_t code = 0;
    if (reply == nullptr || !GetReplyInteger(*reply, REPLY_KEY_CODE, &code) ||
        code != requestCode) {
        return nullptr;
    }
    return reply.release();
}

struct CBackgroundExchange::State {
    std::unique_ptr<CComand> command;
    std::function<void()> ended;
    std::mutex mutex;
    bool finished = false;                 // under mutex
    std::unique_ptr<CCommandReply> reply;  // under mutex
};

bool CBackgroundExchange::Start(std::unique_ptr<CComand> command, std::function<void()> ended) {
    if (m_state != nullptr) {
        return false;
    }
    auto state = std::make_shared<State>();
    state->command = std::move(command);
    state->ended = std::move(ended);
    m_state = state;
    CCommandTransport* transport = &m_transport;
    const auto run = [state, transport] {
        std::unique_ptr<CCommandReply> reply(SendCommandOver(*transport, *state->command));
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->reply = std::move(reply);
            state->finished = true;
        }
        state->ended();
    };
    try {
        // Detached: nobody ever waits for the worker, which ends within the
        // exchange's bound on its own.
        std::thread(run).detach();
    } catch (const std::system_error&) {
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->finished = true;  // no reply
        }
        state->ended();
    }
    return true;
}

bool CBackgroundExchange::TakeReply(std::unique_ptr<CCommandReply>* reply) {
    if (m_state == nullptr) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (!m_state->finished) {
            return false;
        }
        *reply = std::move(m_state->reply);
    }
    m_state.reset();
    return true;
}
