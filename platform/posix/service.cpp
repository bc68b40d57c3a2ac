#include "platform/service.h"

#include <csignal>

#ifdef BRENNICK_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace platform {

namespace {
const char* const kUseSystemd = "on this system the service runs from systemd: see brennickd.service";
}

bool RegisterService(const std::string&, const std::string&, const std::string&, bool, bool, bool,
                     std::string* message)
{
    *message = kUseSystemd;
    return false;
}

bool RemoveService(const std::string&, std::string* message)
{
    *message = kUseSystemd;
    return false;
}

bool StartRegisteredService(const std::string&, std::string* message)
{
    *message = kUseSystemd;
    return false;
}

int RunAsServiceProcess(const std::string&, int (*body)(), void (*)(), void (*)())
{
    return body();
}

bool AskServiceToReload(const std::string&, std::string* message)
{
    *message = "send the service SIGHUP: systemctl reload brennickd";
    return false;
}

int ReloadSignal()
{
    return SIGHUP;
}

void ReportServiceError(const std::string&, const std::string&)
{
    // systemd's journal reads standard error, where the message went.
}

void NotifyServiceManager(const char* state)
{
#ifdef BRENNICK_SYSTEMD
    sd_notify(0, state);
#else
    (void)state;
#endif
}

void IgnoreBrokenPipes()
{
    std::signal(SIGPIPE, SIG_IGN);
}

std::string ServiceSettingsFolder()
{
    return "/etc/brennick";
}

}  // namespace platform
