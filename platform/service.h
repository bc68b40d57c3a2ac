// A program run by the system's service manager: on Windows the service
// control manager; on POSIX systemd does it with a unit file, so these only
// say so there.
#pragma once

#include <string>

namespace platform {

// Registers the running program as an automatically started service with
// these arguments, run by account (empty: the system's own, "LocalSystem"),
// and starts it when asked; false with a message. A service registered
// already changes only what is given: its program becomes this one, its
// arguments change where arguments is not empty, its account where account
// is given (accountGiven) and neither where keepRegistered (an installer's
// upgrade: the arguments serve a first registration only); its start type,
// failure actions and anything an administrator set stay.
bool RegisterService(const std::string& name, const std::string& arguments, const std::string& account,
                     bool accountGiven, bool keepRegistered, bool start, std::string* message);
bool RemoveService(const std::string& name, std::string* message);
// Starts a registered service; false with a message.
bool StartRegisteredService(const std::string& name, std::string* message);
// Hands the process to the service manager, which runs body; stop is
// called when the manager asks the service to stop, reload when it passes
// on a change of parameters. Returns body's code.
int RunAsServiceProcess(const std::string& name, int (*body)(), void (*stop)(), void (*reload)());
// Asks the running service to read its settings again (Windows: the
// parameter-change control); false with a message, which on POSIX names
// the signal to send instead.
bool AskServiceToReload(const std::string& name, std::string* message);
// Puts an error in the system's log where a service has no standard error
// (the Windows Event Log, source name); nothing elsewhere.
void ReportServiceError(const std::string& name, const std::string& text);
// A reader of the service's output that goes away fails the write instead
// of ending the process (SIGPIPE ignored; nothing to do on Windows).
void IgnoreBrokenPipes();
// Tells the service manager how the service stands (systemd's sd_notify:
// "READY=1", "STOPPING=1", "RELOADING=1"); nothing where there is none.
void NotifyServiceManager(const char* state);
// Where the packages put the service's configuration: /etc/brennick on
// POSIX; on Windows the machine's program data folder (the one an installer
// knows as CommonAppDataFolder) and "Brennick\brennickd" in it, whatever
// the process's environment says.
std::string ServiceSettingsFolder();
// The signal that asks a running service to read its settings again
// (SIGHUP); 0 where there is none.
int ReloadSignal();

}  // namespace platform
