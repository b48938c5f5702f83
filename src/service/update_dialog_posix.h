// The update offer on posix: the update text's fields, which a shell shows
// in its own dialog (the Linux notifier's Qt dialog) or on standard error.
#pragma once

#include <string>

#include "service/update_offer.h"
#include "service/update_ui.h"

class CUpdateDialog {
public:
    explicit CUpdateDialog(const std::string& updateText) : m_text(SplitUpdateText(updateText)) {}

    // The offer: "New version(...) of Orlivan is available. ..." with what's new.
    std::string OfferText() const { return UpdateOfferText(m_text.newVersion, m_text.whatsNew); }

    UpdateText m_text;
};

// Replaces the screen that PlatformUpdateUi returns (standard error until a
// shell sets its own); null restores it. Set before any thread checks.
void SetPlatformUpdateUi(CUpdateUi* ui);
