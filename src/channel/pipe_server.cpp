#include "channel/pipe_server.h"

int CPipeServer::Read(void* buffer, uint32_t count) {
    if (Connect() != TRANSFER_OK) {
        return TRANSFER_FAILED;
    }
    const int result = ReadExactly(*this, buffer, count, m_waitLimit);
    if (result == TRANSFER_CLOSED) {
        Disconnect();
    }
    return result;
}

int CPipeServer::WriteReply(const int32_t* reply) {
    const int result = WriteReplyWord(*this, *reply, m_waitLimit);
    if (result == TRANSFER_CLOSED) {
        Disconnect();
    }
    return result;
}
