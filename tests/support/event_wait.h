#pragma once

#include <functional>

// How long a test waits for something that must happen: a guard against a hang, never a
// speed. It returns as soon as the thing happens, so a slow or loaded machine only waits longer.
constexpr int kPatienceMs = 20000;

// Runs the event loop until done() holds or the time is up; false when the time ran out.
// The thread sleeps while no event comes (a 5 ms tick wakes it to look again), so it leaves
// the CPU to the peers a test or a benchmark runs beside the window.
bool WaitUntil(const std::function<bool()> &done, int timeoutMs = kPatienceMs);

// Runs the event loop for the given time: what was posted meanwhile is handled.
void RunEventsFor(int milliseconds);
