#pragma once
// The two queues the application works on.
//
// The main queue runs work items one at a time, in submission order, on the
// thread that runs the default GLib main context (the GTK main loop, or
// runMainUntil). The global queue runs work items concurrently on a pool of
// worker threads that grows whenever every worker is busy, so an item that
// blocks (a child process, a network request) never holds up the others.
// Both functions may be called from any thread.

#include <chrono>
#include <functional>

namespace platform::dispatch {

using WorkItem = std::function<void()>;

// Queues `work` on the main queue.
void mainAsync(WorkItem work);

// Queues `work` on the main queue once `delay` has passed on the monotonic clock.
void mainAfter(std::chrono::nanoseconds delay, WorkItem work);

// Queues `work` on the global concurrent queue (user-initiated quality of service).
void globalAsync(WorkItem work);

// True when no main-queue item is waiting to run (delayed items that are not
// yet due do not count). Main thread only.
bool mainQueueIdle();

// Runs the main queue until `done()` holds (checked before the first item and
// after every iteration) or `timeout` has passed. Returns the last value of
// `done()`. Without a timeout, `done()` may only change through main-queue
// items (nothing else wakes the loop). Main thread only; for tests and for
// the window-less session.
bool runMainUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds::max());

// Number of threads the global queue has started and not yet retired.
int globalWorkerCount();

}  // namespace platform::dispatch
