// The About dialog: the maker, support contacts and the installed version of
// the filter, as the filter's service reported it (the main dialog asks the
// service before it opens the dialog). One object lives for the whole process
// and is shown as often as the user asks.
#pragma once

#include <windows.h>

#include <string>

#include "framework/dialog.h"

class CCommandReply;

class CInfoDialog : public CDialog {
public:
    // Template 134, no parent window; no version yet.
    CInfoDialog();
    ~CInfoDialog() override;

    // Shows "Orlivan Version " + the version in control 1004, or hides the
    // control while no version is known. Returns TRUE (focus on OK).
    BOOL OnInitDialog() override;

    void SetVersion(std::wstring text);
    // The version from the service's reply to a version request (null when
    // no usable reply came: the version stays unknown, and the next showing
    // asks again).
    void SetVersionFromReply(const CCommandReply* reply);

    CStatic m_versionStatic;
    // The installed version; once known it is kept for the life of the
    // process and never asked for again.
    std::wstring m_version;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
