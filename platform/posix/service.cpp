#include "platform/service.h"

#include <csignal>

namespace platform {

namespace {
const char* const kUseSystemd = "on this system the service runs from systemd: see brennickd.service";
}

bool RegisterService(const std::string&, const std::string&, std::string* message)
{
    *message = kUseSystemd;
    return false;
}

bool RemoveService(const std::string&, std::string* message)
{
    *message = kUseSystemd;
    return false;
}

int RunAsServiceProcess(const std::string&, int (*body)(), void (*)())
{
    return body();
}

int ReloadSignal()
{
    return SIGHUP;
}

void ReportServiceError(const std::string&, const std::string&)
{
    // systemd's journal reads standard error, where the message went.
}

}  // namespace platform
