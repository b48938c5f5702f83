#include "service/command.h"
#include "channel/channel_name.h"
#include "service/pipe_client.h"

CCommandReply* SendCommandToService(CComand& command) {
    // The process's one command channel client, created on first use and kept
    // for the life of the process.
    static CPipeClient* client = new CPipeClient(CommandChannelName());
    return SendCommandOver(*client, command);
}
