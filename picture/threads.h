#pragma once

#include <functional>
#include <system_error>
#include <thread>
#include <vector>

namespace picture {

// Runs work on threads of its own at once and waits for them all; work takes its share from
// what is left, so fewer threads (none to be had, or threads <= 1) only make it slower.
inline void runOnThreads(int threads, const std::function<void()> &work)
{
    std::vector<std::thread> workers;
    if (threads > 1) {
        workers.reserve(size_t(threads));
        try {
            for (int i = 0; i < threads; ++i)
                workers.emplace_back(work);
        } catch (const std::system_error &) { // no more threads to be had: those running do it all
        }
    }
    if (workers.empty())
        work();
    for (std::thread &worker : workers)
        worker.join();
}

} // namespace picture
