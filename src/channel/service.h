// The one process-wide link to the filter's service: it owns the user's
// notification channel (created at start-up and kept for the life of the
// process), the command channel client and the pointer to an open update
// dialog.
#pragma once

#include <atomic>
#include <memory>
#include <string>

class CComand;
class CCommandReply;
class CPipeClient;
class CPipeServer;
class CUpdateDialog;
class CUpdateUi;

class CService {
public:
    // What happens when the notification channel can't be created: the shell
    // shows the ChannelBusy message and ends the process with exit code 0.
    using ChannelBusyHandler = void (*)();

    // The one instance, created by the first call (on the user-interface
    // thread, before any other thread exists) for the current user, with
    // `onChannelBusy`; later calls return it and ignore their argument. Never
    // destroyed.
    static CService* GetInstance(ChannelBusyHandler onChannelBusy = nullptr);

    // Creates the service object for `userSid`: derives the channel name and
    // creates the channel; when that fails (an empty identifier included)
    // calls `onChannelBusy` when given, unless the name is held by someone
    // other than the user's own notifier (JudgeChannelHolder): that holder is
    // logged and the channel serves once the name is free. Used by
    // GetInstance and by tests.
    CService(std::string userSid, ChannelBusyHandler onChannelBusy);
    virtual ~CService();
    CService(const CService&) = delete;
    CService& operator=(const CService&) = delete;

    // Sends `command` to the filter's service over the command channel and
    // returns its reply (the caller deletes it), or null when no usable reply
    // came. Exchanges from several threads run one at a time; each, its wait
    // for another included, ends within COMMAND_EXCHANGE_TIMEOUT.
    CCommandReply* SendCommand(CComand& command);

    // Asks the service whether an update exists and shows the outcome on `ui`:
    // the latest-version message (not when `silent`), the update dialog, or
    // the "Update Error" message (silent too). The shell passes the screen of
    // the check's origin: the tray menu's, or that of a new-update notice on
    // the worker thread.
    void CheckForUpdate(bool silent, CUpdateUi& ui);

    // The installed version as the service reports it (8-bit text); empty
    // when the service gave no usable answer. Every call is a new exchange.
    std::string GetInstalledVersionText();

    std::unique_ptr<CPipeServer> m_pipeServer;
    std::unique_ptr<CPipeClient> m_pipeClient;
    std::string m_userSid;
    std::atomic<CUpdateDialog*> m_updateDialog{nullptr};
};
