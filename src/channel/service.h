// The one process-wide link to the filter's service: it owns the user's
// notification channel (created at start-up and kept for the life of the
// process), the command channel client and the pointer to an open update
// dialog.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

class CPipeServer;
class CPipeClient;
class CUpdateDialog;
class CComand;
class CCommandReply;

class CService {
public:
    // What happens when the notification channel can't be created: the
    // platform shows "Another instance of Orlivan Notifier is running or
    // communication channel busy" and ends the process with exit code 0.
    using ChannelBusyHandler = void (*)();

    // The one instance, created by the first call (on the user-interface
    // thread, before any other thread exists) and never destroyed.
    static CService* GetInstance();

    // Creates the service object for `userSid`: derives the channel name and
    // creates the channel; when that fails (an empty identifier included)
    // calls `onChannelBusy`. Used by GetInstance and by tests.
    explicit CService(std::string userSid,
                      ChannelBusyHandler onChannelBusy = &ReportChannelBusyAndExit);
    virtual ~CService();
    CService(const CService&) = delete;
    CService& operator=(const CService&) = delete;

    // Reads one frame from the notification channel, waiting for a client
    // when none is connected. A malloc block with the body (the caller frees
    // it) and its length in `*length`; null when no frame could be read, and
    // then that client has been dropped.
    void* ReadFrame(uint32_t* length);

    // The platform's channel-busy message and exit(0).
    static void ReportChannelBusyAndExit();

    // Sends `command` to the filter's service over the command channel and
    // returns its reply (the caller deletes it), or null when no usable reply
    // came. Exchanges from several threads run one at a time; each, its wait
    // for another included, ends within COMMAND_EXCHANGE_TIMEOUT.
    CCommandReply* SendCommand(CComand& command);

    // Reads the reply frame of an exchange whose request for `requestCode` has
    // been written on `m_pipeClient`, by `deadline`; null when there is no
    // usable reply.
    CCommandReply* ReadReply(int32_t requestCode, std::chrono::steady_clock::time_point deadline);

    // Asks the service whether an update exists and shows the outcome: the
    // latest-version message (not when `silent`), the update dialog, or the
    // "Update Error" message (silent too). The silent check is the one a
    // new-update notice starts on the worker thread: what it shows comes to
    // the front. The other is the menu's: the wait cursor shows during its
    // exchange.
    void CheckForUpdate(bool silent);

    // Shows the update dialog for `updateText`, in front as for a notice,
    // unless one is open already.
    void OfferUpdate(const std::string& updateText);

    CPipeServer* m_pipeServer = nullptr;
    CPipeClient* m_pipeClient = nullptr;
    std::string m_userSid;
    std::atomic<CUpdateDialog*> m_updateDialog{nullptr};
};

constexpr const char kChannelBusyMessage[] =
    "Another instance of Orlivan Notifier is running or communication channel busy";
