// What an update check shows on the platform's screen, and the check itself
// over that seam: send the update-check command, decide, show.
#pragma once

#include <atomic>
#include <functional>
#include <string>

class CComand;
class CCommandReply;
class CUpdateDialog;

class CUpdateUi {
public:
    virtual ~CUpdateUi() = default;
    // Bracket the exchange with the service, and only it (not what is shown
    // afterwards): the menu's screen shows the wait cursor meanwhile.
    virtual void ExchangeStarting() {}
    virtual void ExchangeEnded() {}
    // A message box with the caption and text, an OK button and no icon, owned
    // by no window; returns when the user has closed it.
    virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;
    // The update dialog offering `updateText`, built without a window; null
    // when it can't be made.
    virtual CUpdateDialog* CreateUpdateDialog(const std::string& updateText) = 0;
    // Runs the dialog modally on the calling thread until the user closes it.
    virtual void RunUpdateDialog(CUpdateDialog* dialog) = 0;
    virtual void DeleteUpdateDialog(CUpdateDialog* dialog) = 0;
};

// Sends a command to the service; the reply (the caller deletes it) or null.
using CommandSender = std::function<CCommandReply*(CComand& command)>;

// Asks the service through `send` whether an update exists and shows the
// outcome: the latest-version message (not when `silent`), the offer
// (OfferUpdateOn), or the "Update Error" message (silent too).
void RunUpdateCheck(const CommandSender& send, std::atomic<CUpdateDialog*>& openDialog,
                    CUpdateUi& ui, bool silent);

// Shows the outcome of a check whose exchange has ended with `reply` (null
// when no usable reply came) as RunUpdateCheck does: for a thread that made
// the exchange away from itself (CBackgroundExchange).
void ShowUpdateCheckOutcome(const CCommandReply* reply, std::atomic<CUpdateDialog*>& openDialog,
                            CUpdateUi& ui, bool silent);

// Shows the update dialog for `updateText` unless one is open already, in
// which case this offer is dropped. `openDialog` holds the open dialog; it is
// claimed atomically, so two threads can never both open one.
void OfferUpdateOn(std::atomic<CUpdateDialog*>& openDialog, CUpdateUi& ui,
                   const std::string& updateText);
