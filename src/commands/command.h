// The questions the notifier asks the filter's service over the command
// channel, and the service's answers. A request body is the command code
// alone, an unsigned 32-bit little-endian integer; no command of this system
// carries parameters on the wire.
#pragma once

#include <cstdint>

#include "commands/parameter_map.h"

// Command codes; a reply begins with the code of the command it answers.
constexpr int32_t CMD_CHECK_UPDATE = 0x300;
constexpr int32_t CMD_REPLY_INTEGER = 0x301;       // one integer; no command of ours asks for it
constexpr int32_t CMD_REPLY_TWO_INTEGERS = 0x302;  // two integers; likewise
constexpr int32_t CMD_VERSION = 0x305;

class CComand {
public:
    CComand() = default;
    // Releases every non-null block of the parameter map with free.
    virtual ~CComand() = default;
    CComand(const CComand&) = delete;
    CComand& operator=(const CComand&) = delete;

    // Stores `block` (allocated with malloc) under `key`; the command owns it
    // from then on.
    virtual void SetParameter(int32_t key, void* block);
    // The block under `key`, or null when the key was never stored.
    virtual void* GetParameter(int32_t key);
    // Allocates the request body with malloc, stores it through `out` (null
    // when it can't be allocated) and returns its size in bytes. The caller
    // releases the block with free.
    virtual int32_t Serialize(void** out) = 0;

protected:
    ParameterMap m_params;
};

// Asks whether a newer version exists; answered by a 0x300 reply.
class CCheckUpdateCommand : public CComand {
public:
    int32_t Serialize(void** out) override;
};

// Asks for the installed version; answered by a 0x305 reply.
class CVersionCommand : public CComand {
public:
    int32_t Serialize(void** out) override;
};

// A reply read completely from the service. `m_valid` is set to 1 as the last
// step of building it; the map holds its values by key (see command_reply.h).
class CCommandReply {
public:
    CCommandReply() = default;
    CCommandReply(const CCommandReply&) = delete;
    CCommandReply& operator=(const CCommandReply&) = delete;

    void SetParameter(int32_t key, void* block) { m_params.Set(key, block); }
    void* GetParameter(int32_t key) const { return m_params.Get(key); }

    int32_t m_valid = 0;
    ParameterMap m_params;
};
