#pragma once

#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace picture {

// Runs work on threads of its own at once and waits for them all; work takes its share from
// what is left, so fewer threads (none to be had, or threads <= 1) only make it slower. The
// first exception work throws, on any thread, is thrown again here once every thread is done.
inline void runOnThreads(int threads, const std::function<void()> &work)
{
    std::exception_ptr failure;
    std::mutex guard;
    auto guarded = [&] {
        try {
            work();
        } catch (...) {
            const std::lock_guard<std::mutex> lock(guard);
            if (!failure)
                failure = std::current_exception();
        }
    };
    std::vector<std::thread> workers;
    if (threads > 1) {
        try {
            workers.reserve(size_t(threads));
            for (int i = 0; i < threads; ++i)
                workers.emplace_back(guarded);
        } catch (...) { // no more threads (or memory for one) to be had: those running do it all
        }
    }
    if (workers.empty())
        guarded();
    for (std::thread &worker : workers)
        worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

// The threads work is spread over: one a core the program may run on, at most eight (beyond
// that, composing and encoding wait on memory, not on cores).
inline int coreCount()
{
    return std::clamp(QThread::idealThreadCount(), 1, 8);
}

// Runs work(k) for every k in [0, count) on up to one thread a core (at most eight), each thread
// taking the next k in order; once go() turns false, no further k is started. Ks are taken in
// order, so those started always form the start of the range.
// As below, on at most threads threads (0: one a core, at most eight); a caller whose result
// must not depend on the thread count can thus be tested on one thread and on many.
template<typename Work, typename Go>
void forEachOnThreadsUpTo(int threads, std::ptrdiff_t count, Work work, Go go)
{
    std::atomic<std::ptrdiff_t> next{0};
    if (threads <= 0)
        threads = coreCount();
    runOnThreads(int(std::min<std::ptrdiff_t>(threads, count)), [&] {
        for (std::ptrdiff_t k; go() && (k = next.fetch_add(1)) < count;)
            work(k);
    });
}

template<typename Work, typename Go>
void forEachOnThreads(std::ptrdiff_t count, Work work, Go go)
{
    forEachOnThreadsUpTo(0, count, work, go);
}

template<typename Work>
void forEachOnThreads(std::ptrdiff_t count, Work work)
{
    forEachOnThreads(count, work, [] { return true; });
}

} // namespace picture
