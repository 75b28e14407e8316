#include "platform/Dispatch.hpp"

#include <glib.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace platform::dispatch {
namespace {

// Main queue: a FIFO drained by one source of its own on the default main
// context, at default priority, so its work runs before the toolkit's and the
// web engine's idle-time work. The source stays attached and is made ready
// (from any thread) when the queue gets work, so an item costs one lock and
// one std::function call, and a wake-up allocates nothing.
struct MainQueue {
    std::mutex mutex;
    std::deque<WorkItem> items;
    bool wakeScheduled = false;
    GSource* source = nullptr;

    MainQueue() {
        static GSourceFuncs funcs = {nullptr, nullptr, &MainQueue::dispatch, nullptr, nullptr, nullptr};
        source = g_source_new(&funcs, sizeof(GSource));
        g_source_set_priority(source, G_PRIORITY_DEFAULT);
        g_source_set_callback(source, &MainQueue::drain, this, nullptr);
        g_source_attach(source, nullptr);
    }

    static gboolean dispatch(GSource* source, GSourceFunc callback, gpointer data) {
        g_source_set_ready_time(source, -1);
        return callback(data);
    }

    static gboolean drain(gpointer data) {
        auto* self = static_cast<MainQueue*>(data);
        std::deque<WorkItem> batch;
        {
            std::lock_guard lock(self->mutex);
            batch.swap(self->items);
            self->wakeScheduled = false;
        }
        for (auto& item : batch) item();
        return G_SOURCE_CONTINUE;
    }

    void push(WorkItem work) {
        bool schedule = false;
        {
            std::lock_guard lock(mutex);
            items.push_back(std::move(work));
            if (!wakeScheduled) {
                wakeScheduled = true;
                schedule = true;
            }
        }
        // Thread-safe, and wakes the main context.
        if (schedule) g_source_set_ready_time(source, 0);
    }

    bool idle() {
        std::lock_guard lock(mutex);
        return items.empty();
    }
};

// Global queue: workers wait for items; when an item arrives and no worker is
// waiting, a new worker starts. Workers idle for a while retire.
struct GlobalQueue {
    std::mutex mutex;
    std::condition_variable available;
    std::deque<WorkItem> items;
    int workers = 0;
    int waiting = 0;
    static constexpr auto kIdleRetirement = std::chrono::seconds(10);

    void push(WorkItem work) {
        bool spawn = false;
        {
            std::lock_guard lock(mutex);
            items.push_back(std::move(work));
            if (waiting > static_cast<int>(items.size()) - 1) {
                available.notify_one();
            } else {
                ++workers;
                spawn = true;
            }
        }
        if (spawn) std::thread([this] { run(); }).detach();
    }

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            ++waiting;
            bool got = available.wait_for(lock, kIdleRetirement, [this] { return !items.empty(); });
            --waiting;
            if (!got) {
                --workers;
                return;
            }
            WorkItem item = std::move(items.front());
            items.pop_front();
            lock.unlock();
            item();
            item = nullptr;  // release captures before taking the lock again
            lock.lock();
        }
    }
};

// Both queues live for the whole process: worker threads are detached and may
// still be running while static destructors run, so the queues are never freed.
MainQueue& mainQueue() {
    static auto* queue = new MainQueue;
    return *queue;
}

GlobalQueue& globalQueue() {
    static auto* queue = new GlobalQueue;
    return *queue;
}

}  // namespace

void mainAsync(WorkItem work) { mainQueue().push(std::move(work)); }

void mainAfter(std::chrono::nanoseconds delay, WorkItem work) {
    // GLib timeouts run on g_get_monotonic_time; the item joins the main
    // queue when it is due so it keeps FIFO order with items queued then.
    auto* boxed = new WorkItem(std::move(work));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(delay).count();
    if (ms < 0) ms = 0;
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(ms),
        [](gpointer data) -> gboolean {
            auto* item = static_cast<WorkItem*>(data);
            mainAsync(std::move(*item));
            return G_SOURCE_REMOVE;
        },
        boxed, [](gpointer data) { delete static_cast<WorkItem*>(data); });
}

void globalAsync(WorkItem work) {
    // The main queue (with GLib's default context and its wake-up descriptor)
    // exists before the first worker does, made by the thread that starts
    // background work rather than by a worker's first reply.
    mainQueue();
    globalQueue().push(std::move(work));
}

bool mainQueueIdle() { return mainQueue().idle(); }

bool runMainUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    GMainContext* context = g_main_context_default();
    const auto start = std::chrono::steady_clock::now();
    const bool bounded = timeout != std::chrono::milliseconds::max();
    // A bounded run (tests) wakes every few milliseconds to notice its deadline
    // and conditions that other threads change directly. An unbounded run
    // sleeps until the main context has work: its condition may only change
    // through main-queue items.
    const guint tick =
        bounded ? g_timeout_add(5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr) : 0;
    bool result = done();
    while (!result) {
        if (bounded && std::chrono::steady_clock::now() - start >= timeout) break;
        g_main_context_iteration(context, TRUE);
        result = done();
    }
    if (tick) g_source_remove(tick);
    return result;
}

int globalWorkerCount() {
    auto& queue = globalQueue();
    std::lock_guard lock(queue.mutex);
    return queue.workers;
}

}  // namespace platform::dispatch
