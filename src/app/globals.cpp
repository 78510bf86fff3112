#include "app/globals.h"

HostEntry *g_pHostEntry = nullptr;
QString g_strDateTime;
LineListBox *g_pSystemLogList = nullptr;
int g_bSystemLogFile = 0;
QString g_strSystemLogPath;
QFile g_systemLogFile;

int g_nUpSeconds = 0;
int g_nUpMinutes = 0;
int g_nUpHours = 0;
int g_nUpDays = 0;

int g_bTcpTrafficLog = 0;
int g_bUdpTrafficLog = 0;
int g_bClientTrafficLog = 0;

std::atomic<int> g_bAcceptRunning = 0;
ClientSession *g_pSessionHead = nullptr;
