#pragma once

// What the chaos run measures of its own process and of the machine: descriptors and what
// each is, the heap in use, the time the GUI thread waited for a CPU, the CPU time used, the
// bytes the lists hold; and the units its figures are printed in.

#include <QString>
#include <QStringList>

#include <sys/types.h>

#include "chaos_context.h"

class LineListBox;

namespace Chaos {

qint64 Ms(Clock::duration duration);
QString Mb(qint64 bytes);

// Each open descriptor as "number -> what it is", to name the difference when counts differ.
QStringList DescriptorTargets();
QString DescriptorDifference(const QStringList &before, const QStringList &after);
// Bytes the allocator has handed out and not taken back: what a leak grows, unlike the
// resident size, which keeps the high-water mark of the heap and its fragments.
qint64 HeapInUse();
// Nanoseconds the thread has spent runnable but waiting for a CPU (the kernel's schedstat).
qint64 RunDelayNs(pid_t thread);
// CPU time in clock ticks: of the whole machine (busy, all CPUs) and of this process.
qint64 MachineBusyTicks();
qint64 ProcessTicks();
// The bytes of line text a list holds.
qint64 ListBytes(const LineListBox *list);

}  // namespace Chaos
