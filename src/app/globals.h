#pragma once

// Process-wide state the pages share. Plain variables, read and written directly by their
// owners; everything here is touched on the GUI thread only, except g_bAcceptRunning.

#include <QFile>
#include <QString>

#include <atomic>

#include "platform/host_addresses.h"

class LineListBox;
struct ClientSession;

extern HostEntry *g_pHostEntry;      // null when the host could not be looked up
extern QString g_strDateTime;        // "Y-M-D h:m:s" of the last main-timer tick; "" before it
extern LineListBox *g_pSystemLogList;
extern int g_bSystemLogFile;         // 1 once the user accepted log.txt at start-up
extern QString g_strSystemLogPath;
extern QFile g_systemLogFile;        // open only during one write

extern int g_nUpSeconds;
extern int g_nUpMinutes;
extern int g_nUpHours;
extern int g_nUpDays;

extern int g_bTcpTrafficLog;
extern int g_bUdpTrafficLog;
extern int g_bClientTrafficLog;

extern std::atomic<int> g_bAcceptRunning;  // read by the accept worker every pass
extern ClientSession *g_pSessionHead;
