// The worker pool behind the global and named queues, the per-thread queue stack, the thread-local
// dictionary and the workers' alternate signal stacks.
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "platform/dispatch/internal.h"

namespace dispatch {
namespace detail {

void fatal(const char* message) {
    std::fprintf(stderr, "dispatch: %s\n", message);
    std::fflush(stderr);
    std::abort();
}

uint64_t nextSequence() {
    static std::atomic<uint64_t> sequence{0};
    return sequence.fetch_add(1, std::memory_order_relaxed);
}

namespace {
// Initial-exec: these are read for every block, and the library is only linked into executables.
#define HX_TLS_FAST __attribute__((tls_model("initial-exec")))
HX_TLS_FAST thread_local Frame* tlsFrame = nullptr;
HX_TLS_FAST thread_local bool tlsIsWorker = false;
// The jobs a worker took with the one it runs; handed back when that one blocks.
HX_TLS_FAST thread_local std::vector<std::pair<int, Job>>* tlsBatch = nullptr;
HX_TLS_FAST thread_local size_t tlsBatchNext = 0;
// A plain pointer so that the hot path (clearing between blocks) needs no TLS constructor guard.
HX_TLS_FAST thread_local std::unordered_map<std::string, std::any>* tlsValues = nullptr;

std::atomic<size_t> gAltStackSize{0};
std::atomic<uint64_t> gAltStackGeneration{0};

struct AltStack {
    void* memory = nullptr;
    size_t size = 0;
    uint64_t generation = 0;
    ~AltStack() {
        if (!memory) return;
        stack_t ss{};
        ss.ss_flags = SS_DISABLE;
        sigaltstack(&ss, nullptr);
        munmap(memory, size);
    }
};
thread_local AltStack tlsAltStack;

void applyAltStack() {
    uint64_t generation = gAltStackGeneration.load(std::memory_order_acquire);
    if (generation == tlsAltStack.generation) return;
    tlsAltStack.generation = generation;
    size_t wanted = gAltStackSize.load(std::memory_order_acquire);
    if (tlsAltStack.memory) {
        stack_t ss{};
        ss.ss_flags = SS_DISABLE;
        sigaltstack(&ss, nullptr);
        munmap(tlsAltStack.memory, tlsAltStack.size);
        tlsAltStack.memory = nullptr;
        tlsAltStack.size = 0;
    }
    if (wanted == 0) return;
    long page = sysconf(_SC_PAGESIZE);
    size_t minimum = MINSIGSTKSZ;
#ifdef _SC_MINSIGSTKSZ
    long dynamicMinimum = sysconf(_SC_MINSIGSTKSZ);
    if (dynamicMinimum > 0 && static_cast<size_t>(dynamicMinimum) > minimum)
        minimum = static_cast<size_t>(dynamicMinimum);
#endif
    if (wanted < minimum) wanted = minimum;
    wanted = (wanted + static_cast<size_t>(page) - 1) / static_cast<size_t>(page) * static_cast<size_t>(page);
    void* memory = mmap(nullptr, wanted, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    stack_t ss{};
    ss.ss_sp = memory;
    ss.ss_size = wanted;
    ss.ss_flags = 0;
    if (sigaltstack(&ss, nullptr) != 0) {
        munmap(memory, wanted);
        return;
    }
    tlsAltStack.memory = memory;
    tlsAltStack.size = wanted;
}
}  // namespace

Frame*& currentFrame() { return tlsFrame; }

bool onQueue(const QueueBase* queue) {
    for (Frame* f = tlsFrame; f; f = f->previous)
        if (f->queue == queue) return true;
    return false;
}

void clearThreadValues() {
    if (tlsValues && !tlsValues->empty()) {
        // Destroy the values outside the map: a destructor may itself touch thread values.
        std::unordered_map<std::string, std::any> old;
        old.swap(*tlsValues);
    }
}

namespace {
unsigned allowedProcessors() {
    unsigned hw = std::thread::hardware_concurrency();
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
        hw = static_cast<unsigned>(CPU_COUNT(&allowed));
    return hw;
}
}  // namespace

bool oneProcessor() {
    static const bool one = allowedProcessors() <= 1;
    return one;
}

// ---- Pool

Pool& Pool::shared() {
    static Pool* pool = new Pool();  // never destroyed: workers may outlive static destruction
    return *pool;
}

Pool::Pool() {
    // The processors this process may run on (a process confined to some cores gains nothing from
    // a thread per core of the machine: the extra ones only take turns on the same cores).
    unsigned hw = allowedProcessors();
    targetThreads_ = hw < 2 ? 2 : hw;
    maxThreads_ = targetThreads_ + 64;
    processors_ = hw;
}

// A worker looking for work keeps a processor busy: only where one is left over, beside the
// workers running blocks and the others looking, for the thread that makes the work. On one
// processor a look would only hold that thread off; on two, with one worker draining a queue,
// a second looking would take turns with the producer for the other one.
bool Pool::mayLookForWorkLocked() const { return spinners_ < kMaxSpinners && running_ + spinners_ + 1 < processors_; }

Pool::Counts Pool::counts() {
    std::lock_guard lock(mutex_);
    return Counts{threads_, starting_, idle_, blocked_, targetThreads_, spinners_, looks_};
}

void Pool::setIdleLimit(std::chrono::nanoseconds limit) {
    {
        std::lock_guard lock(mutex_);
        idleLimit_ = limit;
    }
    workAvailable_.notify_all();  // sleepers pick the new limit up
}

void Pool::setWorkerStartHookForTesting(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    startHook_ = std::move(hook);
}

bool Pool::onWorkerThread() { return tlsIsWorker; }

// Called with threads_ and starting_ already counted for the new thread.
void Pool::startThread() {
    std::thread([this] {
        tlsIsWorker = true;
        applyAltStack();
        std::function<void()> hook;
        {
            std::lock_guard lock(mutex_);
            hook = startHook_;
        }
        if (hook) hook();
        workerLoop();
    }).detach();
}

void Pool::submit(Priority priority, Job job) {
    bool wake = false, spawn = false;
    {
        std::lock_guard lock(mutex_);
        ready_[static_cast<int>(priority)].push_back(std::move(job));
        ++readyCount_;
        readyHint_.store(readyCount_, std::memory_order_relaxed);
        if (spinners_ > 0) {
            // A spinning worker takes it.
        } else if (idle_ > pendingWakes_) {
            // Wake no more sleepers than there are jobs for them: with tiny blocks a few busy
            // workers keep up, and every extra one only fights for this lock.
            if (readyCount_ > pendingWakes_) {
                ++pendingWakes_;
                wake = true;
            }
        } else if (idle_ == 0 &&
                   (threads_ < targetThreads_ || (running_ == 0 && starting_ == 0 && threads_ < maxThreads_))) {
            // A thread started but not yet scheduled will take work: while the producer keeps
            // the processor, every submit would otherwise start another one.
            ++threads_;
            ++starting_;
            spawn = true;
        }
    }
    if (wake) workAvailable_.notify_one();
    if (spawn) startThread();
}

void Pool::workerLoop() {
    std::vector<std::pair<int, Job>> batch;
    batch.reserve(16);
    tlsBatch = &batch;
    std::unique_lock lock(mutex_);
    --starting_;
    for (;;) {
        if (readyCount_ == 0) {
            if (running_ == 0 && quiescenceWaiters_.load()) quiescent_.notify_all();
            if (mayLookForWorkLocked()) {
                // Look for work a little before sleeping: a producer that finds a spinner skips
                // the futex wake, which dominates the cost of small blocks.
                ++spinners_;
                ++looks_;
                lock.unlock();
                spinForWork();
                lock.lock();
                --spinners_;
                if (readyCount_ > 0) continue;
            }
            ++idle_;
            if (threads_ <= targetThreads_) {
                workAvailable_.wait(lock);
            } else if (workAvailable_.wait_for(lock, idleLimit_) == std::cv_status::timeout && readyCount_ == 0 &&
                       threads_ > targetThreads_) {
                // A worker started for a burst or beside blocked ones, idle for the limit: the
                // pool goes back toward its target.
                --idle_;
                if (pendingWakes_ > 0) --pendingWakes_;
                --threads_;
                tlsBatch = nullptr;
                return;
            }
            --idle_;
            if (pendingWakes_ > 0) --pendingWakes_;
            continue;
        }
        // Several jobs per lock when many wait (tiny blocks would otherwise spend their time on
        // this lock), but never more than a fair share, so long blocks still spread out.
        size_t take = readyCount_ / (threads_ ? threads_ : 1);
        take = take < 1 ? 1 : (take > 16 ? 16 : take);
        for (int p = 4; p >= 0 && batch.size() < take; --p) {
            while (!ready_[p].empty() && batch.size() < take) batch.emplace_back(p, ready_[p].pop_front());
        }
        readyCount_ -= batch.size();
        readyHint_.store(readyCount_, std::memory_order_relaxed);
        ++running_;
        lock.unlock();
        for (tlsBatchNext = 0; tlsBatchNext < batch.size();) {
            Job job = std::move(batch[tlsBatchNext++].second);
            run(job);
        }  // each job's captures go before this worker counts as idle
        batch.clear();
        lock.lock();
        --running_;
    }
}

void Pool::spinForWork() {
    spin_.spin([this] { return readyHint_.load(std::memory_order_relaxed) > 0; });
}

void Pool::run(Job& job) {
    applyAltStack();
    switch (job.kind) {
        case Job::Run: {
            FrameScope scope(job.queue);
            job.block();
            clearThreadValues();
            break;
        }
        case Job::Drain:
            job.queue->drain();
            break;
        case Job::Item:
        case Job::BarrierItem: {
            {
                FrameScope scope(job.queue);
                job.block();
                job.block = nullptr;
                clearThreadValues();
            }
            job.queue->itemDone(job.kind == Job::BarrierItem);
            break;
        }
    }
}

bool Pool::isQuiescent() {
    std::lock_guard lock(mutex_);
    return readyCount_ == 0 && running_ == 0;
}

void Pool::waitQuiescent(const std::function<bool()>& interrupted) {
    std::unique_lock lock(mutex_);
    quiescenceWaiters_.fetch_add(1);
    quiescent_.wait(lock, [&] { return (readyCount_ == 0 && running_ == 0) || interrupted(); });
    quiescenceWaiters_.fetch_sub(1);
}

void Pool::wakeQuiescenceWaiters() {
    if (quiescenceWaiters_.load() == 0) return;
    std::lock_guard lock(mutex_);
    quiescent_.notify_all();
}

void Pool::deactivate() {
    bool spawn = false, wake = false;
    {
        std::lock_guard lock(mutex_);
        --running_;
        ++blocked_;
        if (tlsBatch && tlsBatchNext < tlsBatch->size()) {
            // The jobs queued behind the blocked one must not wait for it: other workers take them.
            for (size_t i = tlsBatch->size(); i-- > tlsBatchNext;)
                ready_[(*tlsBatch)[i].first].push_front(std::move((*tlsBatch)[i].second));
            readyCount_ += tlsBatch->size() - tlsBatchNext;
            readyHint_.store(readyCount_, std::memory_order_relaxed);
            tlsBatch->resize(tlsBatchNext);
        }
        if (readyCount_ > 0) {
            if (idle_ > pendingWakes_) {
                ++pendingWakes_;
                wake = true;
            } else if (idle_ == 0 && starting_ == 0 && threads_ < maxThreads_) {
                ++threads_;
                ++starting_;
                spawn = true;
            }
        }
        if (running_ == 0 && quiescenceWaiters_.load()) quiescent_.notify_all();
    }
    if (wake) workAvailable_.notify_one();
    if (spawn) startThread();
}

void Pool::reactivate() {
    std::lock_guard lock(mutex_);
    ++running_;
    --blocked_;
}

void Pool::setAltStackSize(size_t bytes) {
    gAltStackSize.store(bytes, std::memory_order_release);
    gAltStackGeneration.fetch_add(1, std::memory_order_acq_rel);
}

// ---- Waiter

Waiter::Waiter() : onWorker_(Pool::onWorkerThread()) {}

bool Waiter::wait(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Seconds timeout) {
    if (released_) return true;
    if (onWorker_) {
        Pool::shared().deactivate();
        deactivated_ = true;
    }
    if (timeout < 0) {
        cv.wait(lock, [&] { return released_; });
    } else {
        auto deadline =
            std::chrono::steady_clock::now() +
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(timeout));
        cv.wait_until(lock, deadline, [&] { return released_; });
    }
    if (deactivated_) {
        // Timed out: nobody handed the running count back.
        Pool::shared().reactivate();
        deactivated_ = false;
    }
    return released_;
}

void Waiter::release() {
    if (released_) return;
    released_ = true;
    if (deactivated_) {
        Pool::shared().reactivate();
        deactivated_ = false;
    }
}

}  // namespace detail

void setWorkerAltStackSize(size_t bytes) { detail::Pool::shared().setAltStackSize(bytes); }

void installThreadAltStack() { detail::applyAltStack(); }

std::any threadValue(const std::string& key) {
    if (!detail::tlsValues) return {};
    auto it = detail::tlsValues->find(key);
    return it == detail::tlsValues->end() ? std::any() : it->second;
}

void setThreadValue(const std::string& key, std::any value) {
    if (!detail::tlsValues) {
        if (!value.has_value()) return;
        // Freed at thread exit by the holder, which also forgets the pointer.
        struct Holder {
            std::unordered_map<std::string, std::any> values;
            ~Holder() { detail::tlsValues = nullptr; }
        };
        static thread_local Holder holder;
        detail::tlsValues = &holder.values;
    }
    std::any old;
    if (!value.has_value()) {
        auto it = detail::tlsValues->find(key);
        if (it == detail::tlsValues->end()) return;
        old = std::move(it->second);
        detail::tlsValues->erase(it);
    } else {
        std::any& slot = (*detail::tlsValues)[key];
        old = std::move(slot);
        slot = std::move(value);
    }
}

ScopedThreadValue::ScopedThreadValue(std::string key, std::any value)
    : key_(std::move(key)), previous_(threadValue(key_)) {
    setThreadValue(key_, std::move(value));
}

ScopedThreadValue::~ScopedThreadValue() { setThreadValue(key_, std::move(previous_)); }

}  // namespace dispatch
