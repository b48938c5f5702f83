// The About dialog: the maker, support contacts and the installed version of
// the filter, which it asks the filter's service for. One object lives for the
// whole process and is shown as often as the user asks.
#pragma once

#include <windows.h>

#include <string>

#include "framework/dialog.h"

class CInfoDialog : public CDialog {
public:
    // Template 134, no parent window; no version yet.
    CInfoDialog();
    ~CInfoDialog() override;

    // Shows "Orlivan Version " + the version in control 1004, asking the
    // service first while no version is known; hides the control when the
    // service gave none (the next showing asks again). Returns FALSE.
    BOOL OnInitDialog() override;

    void SetVersion(std::wstring text);

    CStatic m_versionStatic;
    // The installed version; once known it is kept for the life of the
    // process and never asked for again.
    std::wstring m_version;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
