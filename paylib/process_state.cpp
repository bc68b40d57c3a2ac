#include "paylib/process_state.h"

char g_instanceId[kInstanceIdSize];
char g_errorText[kErrorTextSize];
bool g_instanceIdUnusable;
