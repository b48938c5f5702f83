// The one process-wide link to the filter's service: it owns the user's
// notification channel (created at start-up and kept for the life of the
// process), the command channel client and the pointer to an open update
// dialog.
#pragma once

#include <atomic>
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

    // The platform's channel-busy message and exit(0).
    static void ReportChannelBusyAndExit();

    // Sends `command` to the filter's service over the command channel and
    // returns its reply (the caller deletes it), or null when no usable reply
    // came. Exchanges from several threads run one at a time.
    CCommandReply* SendCommand(CComand& command);

    // Asks the service whether an update exists and shows the outcome: the
    // latest-version message (not when `silent`), the update dialog, or the
    // "Update Error" message (silent too).
    void CheckForUpdate(bool silent);

    CPipeServer* m_pipeServer = nullptr;
    CPipeClient* m_pipeClient = nullptr;
    std::string m_userSid;
    std::atomic<CUpdateDialog*> m_updateDialog{nullptr};
};

constexpr const char kChannelBusyMessage[] =
    "Another instance of Orlivan Notifier is running or communication channel busy";
