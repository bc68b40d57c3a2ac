#include "platform/service.h"

#include <windows.h>

namespace platform {

namespace {

std::string g_name;
int (*g_body)() = nullptr;
void (*g_stop)() = nullptr;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status = {};
int g_code = 0;

void Report(DWORD state, DWORD exitCode)
{
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
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

std::string Describe(DWORD code)
{
    return "error " + std::to_string(code);
}

}  // namespace

bool RegisterService(const std::string& name, const std::string& arguments, std::string* message)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string command = "\"" + std::string(path, n) + "\" " + arguments;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) {
        *message = "the service control manager cannot be opened: " + Describe(GetLastError());
        return false;
    }
    SC_HANDLE service = CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                       SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    if (service == nullptr) *message = "the service cannot be created: " + Describe(GetLastError());
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
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
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);
    return ok;
}

int ReloadSignal()
{
    return 0;
}

int RunAsServiceProcess(const std::string& name, int (*body)(), void (*stop)())
{
    g_name = name;
    g_body = body;
    g_stop = stop;
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(g_name.c_str()), ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) return body();   // not started by the manager
    return g_code;
}

}  // namespace platform
