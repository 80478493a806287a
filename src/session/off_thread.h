#pragma once
// Work that may block (HTTP) runs on a pool; its result comes back on the main thread as a
// posted call. The application object receives the call, so a worker never touches an owner
// that is being destroyed; the owner is checked on the main thread instead. Calls posted by
// one serial pool arrive in the order the jobs ran. A job that throws (out of memory on an
// answer from a hostile server) gives a default-made result: an exception leaving a pool's
// thread would end the process.

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <QtGlobal>

#include <exception>
#include <type_traits>
#include <utility>

namespace brindlewick {

template <typename Owner, typename Job, typename Done>
void runOffThread(QThreadPool& pool, Owner* owner, Job job, Done done, int priority = 0) {
    QPointer<Owner> guard(owner);
    pool.start(
        [guard, job = std::move(job), done = std::move(done)]() mutable {
            std::decay_t<decltype(job())> result{};
            try {
                result = job();
            } catch (const std::exception& e) {
                qWarning("A background job failed: %s", e.what());
            } catch (...) {
                qWarning("A background job failed");
            }
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, done = std::move(done), result = std::move(result)]() mutable {
                    if (guard)
                        done(*guard, std::move(result));
                },
                Qt::QueuedConnection);
        },
        priority);
}

// Posts `step` to the main thread, run only while `owner` lives. For progress reports.
template <typename Owner, typename Step> void onMainThread(QPointer<Owner> owner, Step step) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [owner = std::move(owner), step = std::move(step)]() mutable {
            if (owner)
                step(*owner);
        },
        Qt::QueuedConnection);
}

} // namespace brindlewick
