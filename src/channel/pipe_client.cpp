#include "channel/pipe_client.h"

#include <utility>

CPipeClient::CPipeClient(std::string name, uint32_t timeoutMs) : m_name(std::move(name)) {
    SetTimeout(timeoutMs);
}

CPipeClient::~CPipeClient() {
    Close();
}

int CPipeClient::Write(uint32_t count, const void* buffer) {
    return Write(count, buffer, ExchangeClock::now() + ExchangeTimeout());
}

int CPipeClient::Read(uint32_t count, void* buffer) {
    return Read(count, buffer, ExchangeClock::now() + ExchangeTimeout());
}
