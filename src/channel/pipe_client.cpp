#include "channel/pipe_client.h"

#include <utility>

CPipeClient::CPipeClient(std::string name, uint32_t timeoutMs)
    : m_name(std::move(name)), m_timeoutMs(timeoutMs) {}

CPipeClient::~CPipeClient() {
    Close();
}
