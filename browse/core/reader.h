#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QString>

#include <atomic>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <type_traits>

namespace browse {

// How long a list waits for its reading before it goes on without it (300 ms unless set).
// Folders are nearly always read well within it, so the list is filled before the call returns,
// as its callers expect; a slow disk or a mount that no longer answers costs this pause, and
// only once. Tests that are not about slow folders wait without end, so that none of their
// results depends on how fast the machine reads.
inline std::atomic<std::chrono::milliseconds::rep> &readWaitSetting()
{
    static std::atomic<std::chrono::milliseconds::rep> wait{300};
    return wait;
}
inline std::chrono::milliseconds readWait() { return std::chrono::milliseconds(readWaitSetting().load()); }
inline void setReadWait(std::chrono::milliseconds wait) { readWaitSetting() = wait.count(); }

// Reads for one list, one reading at a time, on a thread of its own. A reading that throws (no
// memory, no thread to run on) is a failed reading: T's own failedRead(std::type_identity<T>,
// cause), found beside T, says so; nothing escapes the thread. A mount that no longer
// answers blocks inside the kernel where nothing can interrupt it, so a reading is never given
// up: a newer request waits for it, then runs on the same thread, and only the newest
// request's result is used. The thread holds shared state only, so the list may go away first.
template <typename T>
class Reader
{
public:
    using Work = std::function<T()>;
    using Apply = std::function<void(T)>;

    // Late results are applied on the thread of receiver, which owns the reader.
    explicit Reader(QObject *receiver)
        : m_state(std::make_shared<State>())
    {
        m_state->receiver = receiver;
    }
    ~Reader()
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->receiver = nullptr;
    }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    // Starts work in place of any earlier request. Its result is returned when it comes within
    // wait; otherwise nothing is returned, and late(result) runs on the receiver's thread when it
    // comes, unless another request has been made since.
    std::optional<T> read(Work work, Apply late, std::chrono::milliseconds wait = readWait())
    {
        std::unique_lock lock(m_state->mutex);
        const quint64 id = ++m_state->latest;
        m_state->late = std::move(late);
        m_state->pending = true;
        if (m_state->running) {
            // One thread per list at most: this request follows the one still under way.
            m_state->queued = std::move(work);
            m_state->queuedId = id;
            return std::nullopt;
        }
        m_state->running = true;
        m_state->waiting = id;
        try {
            std::thread(&Reader::run, m_state, id, std::move(work)).detach();
        } catch (...) {
            // No thread to read on: the reading fails now, on the caller's thread.
            m_state->running = false;
            m_state->waiting = 0;
            m_state->pending = false;
            return failure(std::current_exception());
        }
        m_state->finished.wait_for(lock, wait, [&] { return m_state->done.has_value(); });
        m_state->waiting = 0;
        if (!m_state->done)
            return std::nullopt;
        m_state->pending = false;
        std::optional<T> result = std::move(m_state->done);
        m_state->done.reset();
        return result;
    }

    // True from a request that was not answered in time until its result is applied.
    bool isReading() const
    {
        const std::lock_guard lock(m_state->mutex);
        return m_state->pending;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable finished;
        QObject *receiver = nullptr;
        quint64 latest = 0;   // the newest request
        quint64 waiting = 0;  // the request the receiver's thread waits for, if any
        bool running = false; // a thread is reading
        bool pending = false;
        std::optional<T> done;
        std::optional<Work> queued;
        quint64 queuedId = 0;
        Apply late;
    };

    // The failed reading for what work threw, in words for people.
    static T failure(std::exception_ptr thrown)
    {
        QString cause;
        try {
            std::rethrow_exception(thrown);
        } catch (const std::bad_alloc &) {
            cause = QCoreApplication::translate("browse", "not enough memory");
        } catch (const std::exception &e) {
            cause = QString::fromLocal8Bit(e.what());
        } catch (...) {
            cause = QCoreApplication::translate("browse", "the reading failed");
        }
        return failedRead(std::type_identity<T>{}, cause);
    }

    static T attempt(const Work &work)
    {
        try {
            return work();
        } catch (...) {
            return failure(std::current_exception());
        }
    }

    static void run(std::shared_ptr<State> state, quint64 id, Work work) noexcept
    {
        for (;;) {
            T result = attempt(work);
            std::unique_lock lock(state->mutex);
            try {
                deliver(state, id, std::move(result));
            } catch (...) {
                // A late result that cannot even be posted is lost; the list keeps what it shows.
                if (id == state->latest)
                    state->pending = false;
            }
            if (!state->queued) {
                state->running = false;
                return;
            }
            work = std::move(*state->queued);
            state->queued.reset();
            id = state->queuedId;
        }
    }

    // Hands result to the waiting caller, or posts it to the receiver; the state's lock is held.
    static void deliver(const std::shared_ptr<State> &state, quint64 id, T result)
    {
        if (id == state->waiting) {
            state->done = std::move(result);
            state->finished.notify_all();
        } else if (id == state->latest && state->receiver) {
            // A posted call dies with its receiver, so it never runs after the list is gone.
            QMetaObject::invokeMethod(
                state->receiver,
                [state, id, result] {
                    std::unique_lock lock(state->mutex);
                    if (id != state->latest)
                        return;
                    state->pending = false;
                    const Apply late = state->late;
                    lock.unlock();
                    late(result);
                },
                Qt::QueuedConnection);
        }
    }

    std::shared_ptr<State> m_state;
};

} // namespace browse
