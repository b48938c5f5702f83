// The update offer in the Linux notifier: the update text's fields, shown by
// the shell's Qt dialog (orlivan_notifier.cpp).
#pragma once

#include <string>

#include "update/update_offer.h"

// The offer's text wraps at this width (device-independent pixels), or at
// three quarters of the screen where that is narrower; a text taller than
// half the screen scrolls. So the offer fits the screen whatever the
// service's text.
inline constexpr int kOfferTextWidth = 480;

class CUpdateDialog {
public:
    explicit CUpdateDialog(const std::string& updateText) : m_text(SplitUpdateText(updateText)) {}

    // The offer: "New version(...) of Orlivan is available. ..." with what's new.
    std::string OfferText() const { return UpdateOfferText(m_text.newVersion, m_text.whatsNew); }

    UpdateText m_text;
};
