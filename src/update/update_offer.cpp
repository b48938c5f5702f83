#include "update/update_offer.h"

#include "base/messages.h"
#include "base/text.h"
#include "locations/web_addresses.h"

UpdateText SplitUpdateText(std::string_view text) {
    UpdateText fields;
    fields.prefix = TextBefore(text, ";");
    const std::string rest = TextAfter(";", text);
    fields.newVersion = TextBefore(rest, ";");
    fields.whatsNew = TextAfter(";", rest);
    return fields;
}

std::string UpdateOfferText(std::string_view newVersion, std::string_view whatsNew) {
    return MessageFormat(MessageId::UpdateOfferText, {newVersion, whatsNew});
}

bool UsesAmd64Installer(uint16_t nativeArchitecture) {
    return nativeArchitecture == NATIVE_ARCHITECTURE_AMD64;
}

const char* InstallerUrl(bool amd64) {
    return amd64 ? URL_INSTALLER_AMD64.data() : URL_INSTALLER_X86.data();
}

std::string LinuxPackageUrl(std::string_view unameMachine) {
    std::string url(URL_LINUX_DOWNLOADS.data());
    for (const LinuxPackageArchitecture& known : kLinuxPackageArchitectures) {
        if (unameMachine == known.machine) {
            return url + known.architecture + "/OrlivanUpdate_" + known.architecture + ".deb";
        }
    }
    return url;
}
