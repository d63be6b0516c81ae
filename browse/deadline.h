#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <thread>

namespace browse {

// How long the lists wait for a drive or folder before treating it as unreadable.
inline constexpr std::chrono::milliseconds kFolderDeadline{2000};

// Runs work on a thread of its own and waits at most timeout for its result. A mount that no
// longer answers blocks inside the kernel, where nothing can interrupt it; the window must not
// freeze with it. A late result is dropped; its thread ends whenever the call returns.
template <typename T>
std::optional<T> within(std::chrono::milliseconds timeout, std::function<T()> work)
{
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> future = promise->get_future();
    std::thread([promise, work = std::move(work)] { promise->set_value(work()); }).detach();
    if (future.wait_for(timeout) != std::future_status::ready)
        return std::nullopt;
    return future.get();
}

} // namespace browse
