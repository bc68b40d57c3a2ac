// Windows entry: the runtime hands WinMain the command line without the
// program name and the blanks after it, which is the argument text.
#include <windows.h>

#include "app/run_flow.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    return RunBrennick(commandLine != nullptr ? commandLine : "");
}
