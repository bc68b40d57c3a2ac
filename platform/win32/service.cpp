#include "platform/service.h"

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace platform {

namespace {

std::string g_name;
int (*g_body)() = nullptr;
void (*g_stop)() = nullptr;
void (*g_reload)() = nullptr;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status = {};
int g_code = 0;

void Report(DWORD state, DWORD exitCode)
{
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = 
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE : 0;
    g_status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    g_status.dwServiceSpecificExitCode = exitCode;
    // A stop lets running payments finish: up to brennickd's stop timeout.
    g_status.dwWaitHint = state == SERVICE_STOP_PENDING ? 200000 : 0;
    SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        Report(SERVICE_STOP_PENDING, 0);
        if (g_stop != nullptr) g_stop();
    } else if (control == SERVICE_CONTROL_PARAMCHANGE && g_reload != nullptr) {
        g_reload();
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*)
{
    g_statusHandle = RegisterServiceCtrlHandlerExA(g_name.c_str(), OnControl, nullptr);
    if (g_statusHandle == nullptr) return;
    Report(SERVICE_RUNNING, 0);
    g_code = g_body();
    Report(SERVICE_STOPPED, static_cast<DWORD>(g_code));
}

// The system's own words for an error, with its number.
std::string Describe(DWORD code)
{
    char text[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) text[--n] = '\0';
    return (n > 0 ? std::string(text) : "error") + " (" + std::to_string(code) + ")";
}

const char* const kEventLogKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

}  // namespace

bool RegisterService(const std::string& name, const std::string& arguments, const std::string& account,
                     bool accountGiven, bool keepRegistered, bool start, std::string* message)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string program = "\"" + std::string(path, n) + "\"";
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) {
        *message = "the service control manager cannot be opened: " + Describe(GetLastError());
        return false;
    }
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS);
    bool created = false;
    if (service == nullptr && arguments.empty()) {
        *message = "the service is not registered: --install-service needs its options (--token-file, --state)";
    } else if (service == nullptr) {
        service = CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                 SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, (program + " " + arguments).c_str(), nullptr,
                                 nullptr, nullptr, account.empty() ? nullptr : account.c_str(), nullptr);
        created = service != nullptr;
        if (service == nullptr) *message = "the service cannot be created: " + Describe(GetLastError());
    } else {
        // Registered already (an installer's upgrade, a second run): the
        // program is this one; the arguments and the account only where
        // given, so that what an administrator set stays.
        std::string keptArguments;
        DWORD needed = 0;
        QueryServiceConfigA(service, nullptr, 0, &needed);
        std::vector<char> buffer(needed > 0 ? needed : 1);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
        if (needed > 0 && QueryServiceConfigA(service, config, needed, &needed) && config->lpBinaryPathName) {
            std::string image = config->lpBinaryPathName;
            std::size_t end = image[0] == '"' ? image.find('"', 1) : image.find(' ');
            keptArguments = end == std::string::npos ? "" : image.substr(end + (image[0] == '"' ? 1 : 0));
            keptArguments.erase(0, keptArguments.find_first_not_of(' ') == std::string::npos
                                       ? keptArguments.size()
                                       : keptArguments.find_first_not_of(' '));
        }
        std::string command = program + " " + (arguments.empty() || keepRegistered ? keptArguments : arguments);
        const char* who = !accountGiven || keepRegistered ? nullptr : account.empty() ? "LocalSystem" : account.c_str();
        if (!ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, command.c_str(),
                                  nullptr, nullptr, nullptr, who, nullptr, nullptr)) {
            *message = "the registered service cannot be changed: " + Describe(GetLastError());
            CloseServiceHandle(service);
            service = nullptr;
        }
    }
    if (service != nullptr && created) {
        SERVICE_DESCRIPTIONA description = {
            const_cast<char*>("Brennick's local payment service for web registers: runs Brennick once per "
                              "operation that a register's page asks for.")};
        ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description);
        // Restarted after a failure three times, a minute apart; then left
        // stopped for the administrator, whom the Event Log tells why.
        SC_ACTION actions[4] = {{SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000},
                                {SC_ACTION_RESTART, 60000}, {SC_ACTION_NONE, 0}};
        SERVICE_FAILURE_ACTIONSA failure = {86400, nullptr, nullptr, 4, actions};
        ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
    }
    if (service != nullptr) {
        if (start && !StartServiceA(service, 0, nullptr))
            *message = "the service is registered but does not start: " + Describe(GetLastError());
        CloseServiceHandle(service);
        // The Event Log's source, for the service's start failures.
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, (kEventLogKey + name).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr) == ERROR_SUCCESS) {
            DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
            RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof types);
            RegSetValueExA(key, "EventMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), n + 1);
            RegCloseKey(key);
        }
    }
    CloseServiceHandle(manager);
    return service != nullptr && message->empty();
}

bool StartRegisteredService(const std::string& name, std::string* message)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name.c_str(), SERVICE_START) : nullptr;
    bool ok = service != nullptr && StartServiceA(service, 0, nullptr);
    if (!ok) *message = "the service does not start: " + Describe(GetLastError());
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);
    return ok;
}

bool RemoveService(const std::string& name, std::string* message)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name.c_str(), SERVICE_STOP | DELETE) : nullptr;
    bool ok = service != nullptr;
    if (ok) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        ok = DeleteService(service) != 0;
    }
    if (!ok) *message = "the service cannot be removed: " + Describe(GetLastError());
    if (ok) RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kEventLogKey + name).c_str());
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);
    return ok;
}

int ReloadSignal()
{
    return 0;
}

bool AskServiceToReload(const std::string& name, std::string* message)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name.c_str(), SERVICE_PAUSE_CONTINUE) : nullptr;
    SERVICE_STATUS status;
    bool ok = service != nullptr && ControlService(service, SERVICE_CONTROL_PARAMCHANGE, &status);
    if (!ok) *message = "the service cannot be asked to reload: " + Describe(GetLastError());
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);
    return ok;
}

void ReportServiceError(const std::string& name, const std::string& text)
{
    // Only the service has no standard error to write to.
    if (g_statusHandle == nullptr) return;
    HANDLE source = RegisterEventSourceA(nullptr, name.c_str());
    if (source == nullptr) return;
    const char* strings[1] = {text.c_str()};
    ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
}

int RunAsServiceProcess(const std::string& name, int (*body)(), void (*stop)(), void (*reload)())
{
    g_name = name;
    g_body = body;
    g_stop = stop;
    g_reload = reload;
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(g_name.c_str()), ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) return body();   // not started by the manager
    return g_code;
}

void NotifyServiceManager(const char*)
{
    // The service control manager hears of the start from RunAsServiceProcess.
}

void IgnoreBrokenPipes()
{
}

std::string ServiceSettingsFolder()
{
    // A service's environment need not name the folder the installer wrote
    // to (Wine gives LocalSystem's services another ProgramData).
    char data[MAX_PATH];
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, data) != S_OK)
        return "C:\\ProgramData\\Brennick\\brennickd";
    return std::string(data) + "\\Brennick\\brennickd";
}

}  // namespace platform
