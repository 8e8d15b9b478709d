#pragma once
// Opening a web address in the desktop's browser. On Linux `xdg-open` is started detached
// and never waited for. Tests may install an opener that captures the address instead.
#include <string>

namespace corvane::platform {

// Control thread. Returns false when the opener could not be started.
bool openUrl(const std::string& address);

using UrlOpener = bool (*)(void* context, const std::string& address);
// Installs an opener that receives every address instead; null restores the browser.
void setUrlOpener(UrlOpener opener, void* context);

}  // namespace corvane::platform
