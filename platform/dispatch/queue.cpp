// The queues: main (drained by the run loop), global (straight onto the pool), serial and
// concurrent (with barriers), each optionally targeting another queue.
#include <cstring>
#include <new>
#include <string>

#include "platform/dispatch/internal.h"

namespace dispatch {
namespace detail {

bool QueueBase::isCurrent() const { return onQueue(this); }

void QueueBase::checkSyncAllowed(const char* what) const {
    for (const QueueBase* q = this; q; q = q->target()) {
        if ((q == this || q->exclusive()) && onQueue(q)) {
            std::string message = std::string(what) + " onto queue \"" + label() + "\" from a block running on \"" +
                                  q->label() + "\" would deadlock";
            fatal(message.c_str());
        }
    }
}

namespace {

// Shared by every sync that waits for its turn: the queue opens the gate, the caller runs.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    Waiter waiter;
    void open() {
        {
            std::lock_guard lock(mutex);
            waiter.release();
        }
        cv.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex);
        waiter.wait(lock, cv, -1);
    }
};

// Runs block on the target queue and waits for it (the sync of queues whose blocks can only run
// inside another queue's blocks).
void syncThroughAsync(Queue& queue, const Block& block, bool barrier) {
    auto gate = std::make_shared<Gate>();
    Block run = [gate, &block] {
        block();
        gate->open();
    };
    if (barrier)
        queue.barrierAsync(std::move(run));
    else
        queue.async(std::move(run));
    gate->wait();
}

// ---- Main queue

class MainQueue final : public QueueBase {
public:
    MainQueue() : QueueBase("com.hxconnect.main-thread") {}
    bool exclusive() const override { return true; }
    void async(Block block) override { mainQueuePush(std::move(block)); }
    void sync(const Block& block) override {
        if (isMainThread()) {
            std::string message = "sync onto the main queue from the main thread would deadlock";
            fatal(message.c_str());
        }
        syncThroughAsync(*this, block, false);
    }
    void after(Seconds delay, Block block) override;
    void barrierAsync(Block block) override { async(std::move(block)); }
    void barrierSync(const Block& block) override { sync(block); }
};

// ---- Global queues

class GlobalQueue final : public QueueBase {
public:
    GlobalQueue(std::string label, Priority priority) : QueueBase(std::move(label)), priority_(priority) {}
    void async(Block block) override {
        Job job;
        job.block = std::move(block);
        job.queue = this;
        job.kind = Job::Run;
        Pool::shared().submit(priority_, std::move(job));
    }
    void sync(const Block& block) override {
        FrameScope scope(this);
        block();
    }
    void after(Seconds delay, Block block) override;
    void barrierAsync(Block block) override { async(std::move(block)); }
    void barrierSync(const Block& block) override { sync(block); }
    std::optional<Priority> rootPriority() const override { return priority_; }

private:
    Priority priority_;
};

// The priority a queue's work runs at, and how a queue hands a job to its target.
void submitToTarget(QueueBase* target, Job job);

// ---- Serial queues

class SerialQueue final : public QueueBase {
public:
    SerialQueue(std::string label, std::shared_ptr<QueueBase> target)
        : QueueBase(std::move(label)), target_(std::move(target)) {}

    ~SerialQueue() override {
        // Nothing runs any more: the blocks not run yet go with their chunks.
        for (Chunk* c = head_ ? head_ : first_; c;) {
            Chunk* next = c->next.load(std::memory_order_relaxed);
            for (size_t i = c == head_ ? headIndex_ : 0; i < Chunk::kSlots; ++i)
                if (c->state[i].load(std::memory_order_relaxed) != kUnwritten) c->block(i).~Block();
            delete c;
            c = next;
        }
        for (auto& spare : spares_) delete spare.load(std::memory_order_relaxed);
    }

    QueueBase* target() const override { return target_.get(); }
    bool exclusive() const override { return true; }

    void async(Block block) override {
        push(std::move(block), kRun);
        claimAndActivate();
    }

    void sync(const Block& block) override {
        checkSyncAllowed("sync");
        if (!target_->rootPriority()) {
            // The drain runs inside a block of another queue: let it run the block there.
            syncThroughAsync(*this, block, false);
            return;
        }
        // Idle: the caller owns the queue at once. Else it waits its turn behind what is queued.
        if (scheduled_.exchange(true, std::memory_order_seq_cst)) {
            auto gate = std::make_shared<Gate>();
            push([gate] { gate->open(); }, kOpenGate);
            claimAndActivate();
            gate->wait();
        }
        {
            FrameScope scope(this);
            block();
        }
        release();
    }

    void after(Seconds delay, Block block) override;
    void barrierAsync(Block block) override { async(std::move(block)); }
    void barrierSync(const Block& block) override { sync(block); }

    uint64_t drainLooks() const override { return looks_.load(std::memory_order_relaxed); }

    void drain() override {
        constexpr int kBudget = 1024;  // then yield the thread to other queues of the pool
        int ran = 0;
        chasing_ = false;  // the first blocks of a drain run at once
        for (;;) {
            uint8_t kind = front();
            if (kind == kUnwritten) {
                // A producer on another processor is likely to publish the next block within a
                // few microseconds: waiting that long for it keeps the claim, which spares both
                // sides the pool's lock for a new drain. It looks only now and then, so that the
                // producer gets a batch ahead: a drainer looking after every block would take the
                // producer's cache line back after each of its writes and make both sides wait
                // for the other processor on every block. On one processor the wait would only
                // hold the producer off.
                if (oneProcessor() || !spinUntil([&] { return (kind = front()) != kUnwritten; },
                                                 std::chrono::microseconds(5), kLookEvery)) {
                    if (giveUp()) return;
                    continue;
                }
            }
            if (ran >= kBudget) {
                if (Pool::shared().hasReadyWork()) break;
                ran = 0;  // nothing else waits for the thread
            }
            // The block runs where it lies: its slot is reused only once the drain (this thread)
            // has moved past its chunk.
            Block& block = head_->block(headIndex_);
            ++headIndex_;
            ++taken_;
            if (kind == kOpenGate) {
                // Hand the queue to the waiting sync caller; the rest waits for its release.
                Block open = std::move(block);
                block.~Block();
                open();
                return;
            }
            {
                FrameScope scope(this);
                block();
            }
            block.~Block();
            clearThreadValues();
            ++ran;
        }
        activate();  // still claimed: continue in a fresh job
    }

private:
    // What a slot holds: nothing yet, a block to run, or the opening of a waiting sync caller's
    // gate.
    enum : uint8_t { kUnwritten = 0, kRun = 1, kOpenGate = 2 };
    // Blocks wait in chunks of slots, each written once by a producer and then published; the
    // one thread draining (whoever holds the claim) reads them in order without a lock, and
    // drained chunks are kept for the producers' next ones. A slot's block is made where it lies
    // when written and destroyed when run: a new chunk's slots are not cleared first (they are
    // always written before they are read), and the slots are packed apart from their states,
    // so that a queue holding a burst takes no more memory than the blocks themselves.
    struct Chunk {
        static constexpr size_t kSlots = 120;  // with the states and the link, 4 KiB
        Chunk() {}                             // the slots' storage stays as it is
        Block& block(size_t i) { return *std::launder(reinterpret_cast<Block*>(slots[i])); }
        alignas(Block) unsigned char slots[kSlots][sizeof(Block)];
        std::atomic<uint8_t> state[kSlots] = {};
        std::atomic<Chunk*> next{nullptr};
    };
    static constexpr size_t kSpareChunks = 4;
    // How often a drainer that caught up with the producers looks for more: long enough for a
    // producer to write a few cache lines' worth of blocks, short beside a wake-up.
    static constexpr std::chrono::nanoseconds kLookEvery{500};
    // Fewer blocks than this found at a look mean the drainer is right behind a producer.
    static constexpr size_t kBatch = 16;

    // Producers take turns on their own lock only: the drainer never touches it.
    void push(Block&& block, uint8_t kind) {
        std::lock_guard lock(pushLock_);
        if (!tail_) {
            tail_ = first_ = new Chunk;
        } else if (tailIndex_ == Chunk::kSlots) {
            Chunk* chunk = nullptr;
            for (size_t i = 0; i < kSpareChunks && !chunk; ++i)
                chunk = spares_[i].exchange(nullptr, std::memory_order_acquire);
            if (!chunk) chunk = new Chunk;
            tail_->next.store(chunk, std::memory_order_seq_cst);
            tail_ = chunk;
            tailIndex_ = 0;
        }
        const size_t index = tailIndex_++;
        new (tail_->slots[index]) Block(std::move(block));
        tail_->state[index].store(kind, std::memory_order_release);
        // Counted after the slot is ready, for the check of a drain that gives the queue up.
        published_.store(published_.load(std::memory_order_relaxed) + 1, std::memory_order_seq_cst);
    }

    // The claim holder gives the queue up; false when it took it back at once because a block was
    // published meanwhile. Only the count is read after the claim is given up, never the chunks
    // (the next holder may be moving through them already): a block counted before the claim was
    // given up is seen here, and one counted after finds the queue unclaimed (claimAndActivate).
    bool giveUp() {
        const uint64_t taken = taken_;
        scheduled_.store(false, std::memory_order_seq_cst);
        return published_.load(std::memory_order_seq_cst) == taken ||
               scheduled_.exchange(true, std::memory_order_seq_cst);
    }

    // After a push: the producer that finds the queue unclaimed claims it and starts a drain.
    void claimAndActivate() {
        if (scheduled_.load(std::memory_order_seq_cst)) return;
        if (!scheduled_.exchange(true, std::memory_order_seq_cst)) activate();
    }

    // What the first published slot not yet run holds (kUnwritten: none yet); moves past a
    // drained chunk. Only the thread holding the claim calls it.
    uint8_t front() {
        if (!head_) {
            // The first chunk comes with the first push.
            std::lock_guard lock(pushLock_);
            head_ = first_;
            if (!head_) return kUnwritten;
        }
        if (headIndex_ < readyEnd_) return kinds_[headIndex_];
        if (headIndex_ == Chunk::kSlots) {
            Chunk* next = head_->next.load(std::memory_order_seq_cst);
            if (!next) return kUnwritten;
            Chunk* done = head_;
            head_ = next;
            headIndex_ = readyEnd_ = 0;
            for (auto& state : done->state) state.store(kUnwritten, std::memory_order_relaxed);
            done->next.store(nullptr, std::memory_order_relaxed);
            for (size_t i = 0; i < kSpareChunks && done; ++i) {
                Chunk* empty = nullptr;
                if (spares_[i].compare_exchange_strong(empty, done, std::memory_order_acq_rel)) done = nullptr;
            }
            delete done;
        }
        // Every slot published so far in this chunk at one look, their kinds copied: the states
        // share cache lines with the ones the producer is writing, and reading them one block at a
        // time would pull the line back from the producer after each of its writes.
        size_t end = scanPublished();
        if (chasing_ && end > headIndex_ && end - headIndex_ < kBatch && end < Chunk::kSlots && !oneProcessor()) {
            // Right behind a producer that is still writing (the last look found few blocks too):
            // taking these at once would keep this thread at the producer's cache lines, each
            // side waiting for the other's processor on every block. A moment later they come
            // as a batch.
            spinUntil([] { return false; }, kLookEvery);
            end = scanPublished();
        }
        chasing_ = end < Chunk::kSlots && end - headIndex_ < kBatch;
        return end > headIndex_ ? kinds_[headIndex_] : uint8_t{kUnwritten};
    }

    // How far the producers have published in head_ from headIndex_ on, with the kinds copied.
    size_t scanPublished() {
        looks_.store(looks_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        size_t end = headIndex_;
        for (uint8_t kind;
             end < Chunk::kSlots && (kind = head_->state[end].load(std::memory_order_seq_cst)) != kUnwritten; ++end)
            kinds_[end] = kind;
        return readyEnd_ = end;
    }

    void activate() {
        Job job;
        job.queue = this;
        job.keep = std::static_pointer_cast<QueueBase>(shared_from_this());
        job.kind = Job::Drain;
        submitToTarget(target_.get(), std::move(job));
    }

    // The sync caller that owned the queue gives it up as a drain does.
    void release() {
        if (!giveUp()) activate();
    }

    std::shared_ptr<QueueBase> target_;
    // Held for a slot's write: one exchange to take, one store to give back (a mutex's release
    // is another atomic exchange on every block).
    class PushLock {
    public:
        void lock() {
            for (int spins = 0; held_.exchange(true, std::memory_order_acquire);) {
                while (held_.load(std::memory_order_relaxed)) {
                    // The holder was descheduled mid-write: let it run (at once where this thread
                    // holds the only processor it could run on).
                    if (++spins > 64 || oneProcessor()) std::this_thread::yield();
                    cpuRelax();
                }
            }
        }
        void unlock() { held_.store(false, std::memory_order_release); }

    private:
        std::atomic<bool> held_{false};
    };
    // The producers' fields, the claim and the drainer's fields lie on cache lines of their own:
    // the drainer moves its place on every block and the producers theirs on every push, and
    // sharing a line would send it from one processor to the other each time.
    static constexpr size_t kLine = 64;
    alignas(kLine) PushLock pushLock_;
    Chunk* first_ = nullptr;              // under pushLock_
    Chunk* tail_ = nullptr;               // under pushLock_
    size_t tailIndex_ = 0;                // under pushLock_
    std::atomic<uint64_t> published_{0};  // blocks pushed, written under pushLock_
    // The claim: held by the one drain job (or sync caller) that may run the queue's blocks.
    alignas(kLine) std::atomic<bool> scheduled_{false};
    alignas(kLine) Chunk* head_ = nullptr;  // the claim holder's
    size_t headIndex_ = 0;                  // the claim holder's
    size_t readyEnd_ = 0;                   // the claim holder's: head_'s slots known published
    uint64_t taken_ = 0;                    // the claim holder's: blocks taken out of the chunks
    bool chasing_ = false;                  // the claim holder's: its last look found only a few
    std::atomic<uint64_t> looks_{0};        // written by the claim holder only
    uint8_t kinds_[Chunk::kSlots];          // the claim holder's: the kinds of head_'s published slots
    alignas(kLine) std::atomic<Chunk*> spares_[kSpareChunks] = {};
};

// ---- Concurrent queues

class ConcurrentQueue final : public QueueBase {
public:
    ConcurrentQueue(std::string label, std::shared_ptr<QueueBase> target)
        : QueueBase(std::move(label)),
          target_(std::move(target)),
          onPool_(target_->rootPriority().has_value()),
          targetIsRoot_(target_->target() == nullptr && !target_->exclusive()) {}

    QueueBase* target() const override { return target_.get(); }

    void async(Block block) override { enqueue(Item{std::move(block), nullptr, false}); }
    void barrierAsync(Block block) override { enqueue(Item{std::move(block), nullptr, true}); }

    void sync(const Block& block) override {
        if (isCurrent()) {
            // Already running here as a reader; waiting for a turn could only deadlock.
            FrameScope scope(this);
            block();
            return;
        }
        // Below a shared root nothing else could deadlock the wait (this queue is not current).
        if (!targetIsRoot_) checkSyncAllowed("sync");
        if (onPool_ && (enterFastRead() || enterFastReadAfterYielding())) {
            // Nothing queued and no barrier: run at once beside the other readers.
            {
                FrameScope scope(this);
                block();
            }
            leaveFastRead();
            return;
        }
        syncWithGate(block, false);
    }

    bool tryEnterRead() override { return onPool_ && targetIsRoot_ && enterFastRead(); }
    void leaveRead() override { leaveFastRead(); }

    void barrierSync(const Block& block) override {
        checkSyncAllowed("barrierSync");
        if (onPool_ && (enterIdleBarrier() || enterIdleBarrierAfterYielding())) {
            // Nothing ran or waited: the caller holds the queue at once.
            {
                FrameScope scope(this);
                block();
            }
            itemDone(true);
            return;
        }
        syncWithGate(block, true);
    }

    void after(Seconds delay, Block block) override;

    void itemDone(bool barrier) override {
        std::vector<Job> jobs;
        std::vector<std::shared_ptr<Gate>> gates;
        {
            std::lock_guard lock(mutex_);
            --running_;
            if (barrier) barrierRunning_ = false;
            if (items_.empty()) {  // the common case: nothing waits for this one
                updateBlocked();
                return;
            }
            pump(jobs, gates);
        }
        start(jobs, gates);
    }

private:
    struct Item {
        Block block;
        std::shared_ptr<Gate> gate;
        bool barrier;
    };

    // Synchronous readers that found nothing queued and no barrier running take a place by one
    // atomic step on fastReads_, without the queue's lock; a barrier waits for them to leave.
    bool enterFastRead() {
        uint64_t state = fastReads_.load(std::memory_order_relaxed);
        while ((state & kBlocked) == 0) {
            if (fastReads_.compare_exchange_weak(state, state + 1, std::memory_order_acquire,
                                                 std::memory_order_relaxed))
                return true;
        }
        return false;
    }

    // A barrier is mostly a short update: giving the thread up a few times lets it finish, where
    // queueing behind it would put this thread to sleep and make the barrier's end wake it.
    bool enterFastReadAfterYielding() {
        for (int i = 0; i < 8; ++i) {
            std::this_thread::yield();
            if (enterFastRead()) return true;
        }
        return false;
    }

    // Readers running a short block are mostly gone after the thread was given up once or twice;
    // the barrier has not been submitted meanwhile, so nothing is ordered after it yet.
    bool enterIdleBarrierAfterYielding() {
        for (int i = 0; i < 8; ++i) {
            std::this_thread::yield();
            if (enterIdleBarrier()) return true;
        }
        return false;
    }

    // Takes the queue for a synchronous barrier when nothing runs or waits on it.
    bool enterIdleBarrier() {
        std::lock_guard lock(mutex_);
        if (!items_.empty() || barrierRunning_ || running_ > 0 ||
            (fastReads_.load(std::memory_order_acquire) & ~kBlocked) != 0)
            return false;
        barrierRunning_ = true;
        ++running_;
        updateBlocked();
        // A fast reader that entered after the count was read holds a place now: give the turn back.
        if ((fastReads_.load(std::memory_order_acquire) & ~kBlocked) != 0) {
            barrierRunning_ = false;
            --running_;
            updateBlocked();
            return false;
        }
        return true;
    }

    void leaveFastRead() {
        const uint64_t before = fastReads_.fetch_sub(1, std::memory_order_acq_rel);
        if ((before & kBlocked) == 0 || (before & ~kBlocked) != 1) return;
        // The last fast reader out, with something waiting: it may be a barrier held back by us.
        std::vector<Job> jobs;
        std::vector<std::shared_ptr<Gate>> gates;
        {
            std::lock_guard lock(mutex_);
            pump(jobs, gates);
        }
        start(jobs, gates);
    }

    // Keeps kBlocked set exactly while something waits in items_ or a barrier runs (under mutex_,
    // the only writer of the bit), so that no fast reader overtakes either.
    void updateBlocked() {
        const bool blocked = !items_.empty() || barrierRunning_;
        const bool marked = (fastReads_.load(std::memory_order_relaxed) & kBlocked) != 0;
        if (blocked && !marked)
            fastReads_.fetch_or(kBlocked, std::memory_order_acq_rel);
        else if (!blocked && marked)
            fastReads_.fetch_and(~kBlocked, std::memory_order_release);
    }

    void syncWithGate(const Block& block, bool barrier) {
        auto gate = std::make_shared<Gate>();
        enqueue(Item{nullptr, gate, barrier});
        gate->wait();
        {
            FrameScope scope(this);
            block();
        }
        itemDone(barrier);
    }

    void enqueue(Item item) {
        {
            std::unique_lock lock(mutex_);
            if (items_.empty() && !barrierRunning_ && !item.barrier && !item.gate) {
                // The common case: a reader with nothing ahead of it starts at once.
                ++running_;
                lock.unlock();
                submitToTarget(target_.get(), makeJob(std::move(item.block), false));
                return;
            }
        }
        std::vector<Job> jobs;
        std::vector<std::shared_ptr<Gate>> gates;
        {
            std::lock_guard lock(mutex_);
            items_.push_back(std::move(item));
            updateBlocked();
            pump(jobs, gates);
        }
        start(jobs, gates);
    }

    Job makeJob(Block block, bool barrier) {
        Job job;
        job.block = std::move(block);
        job.queue = this;
        job.keep = std::static_pointer_cast<QueueBase>(shared_from_this());
        job.kind = barrier ? Job::BarrierItem : Job::Item;
        return job;
    }

    // Starts what may run now: readers while no barrier runs or waits ahead of them, a barrier
    // once nothing runs (fast readers included: kBlocked is set, so their count only falls).
    void pump(std::vector<Job>& jobs, std::vector<std::shared_ptr<Gate>>& gates) {
        while (!items_.empty() && !barrierRunning_) {
            Item& front = items_.front();
            if (front.barrier) {
                if (running_ > 0 || (fastReads_.load(std::memory_order_acquire) & ~kBlocked) != 0) break;
                barrierRunning_ = true;
            }
            ++running_;
            bool barrier = front.barrier;
            if (front.gate) {
                gates.push_back(std::move(front.gate));
            } else {
                jobs.push_back(makeJob(std::move(front.block), barrier));
            }
            items_.pop_front();
            if (barrier) break;
        }
        updateBlocked();
    }

    void start(std::vector<Job>& jobs, std::vector<std::shared_ptr<Gate>>& gates) {
        for (auto& job : jobs) submitToTarget(target_.get(), std::move(job));
        for (auto& gate : gates) gate->open();
    }

    std::shared_ptr<QueueBase> target_;
    // Whether the blocks run on the pool's threads (a global queue is the target), and whether
    // the target is a root that never runs one block at a time: fixed with the target.
    const bool onPool_;
    const bool targetIsRoot_;
    std::mutex mutex_;
    Ring<Item> items_;
    int running_ = 0;
    bool barrierRunning_ = false;
    static constexpr uint64_t kBlocked = uint64_t{1} << 63;
    // Fast readers running, plus kBlocked.
    std::atomic<uint64_t> fastReads_{0};
};

void submitToTarget(QueueBase* target, Job job) {
    if (auto priority = target->rootPriority()) {
        Pool::shared().submit(*priority, std::move(job));
        return;
    }
    // A queue targeting a serial, concurrent or the main queue runs its jobs as that queue's
    // blocks, so that it is serialised with it (and isCurrent holds for both).
    auto shared = std::make_shared<Job>(std::move(job));
    target->async([shared] {
        Job& j = *shared;
        switch (j.kind) {
            case Job::Drain:
                j.queue->drain();
                break;
            case Job::Run:
            case Job::Item:
            case Job::BarrierItem: {
                {
                    FrameScope scope(j.queue);
                    j.block();
                    j.block = nullptr;
                }
                if (j.kind != Job::Run) j.queue->itemDone(j.kind == Job::BarrierItem);
                break;
            }
        }
    });
}

void scheduleAfter(const QueuePtr& queue, Seconds delay, Block block) {
    if (!(delay > 0)) {
        queue->async(std::move(block));
        return;
    }
    Seconds when = clock().now() + delay;
    Scheduler::shared().add(when, [queue, block = std::move(block)]() mutable { queue->async(std::move(block)); });
}

void MainQueue::after(Seconds delay, Block block) {
    scheduleAfter(std::static_pointer_cast<Queue>(shared_from_this()), delay, std::move(block));
}
void GlobalQueue::after(Seconds delay, Block block) {
    scheduleAfter(std::static_pointer_cast<Queue>(shared_from_this()), delay, std::move(block));
}
void SerialQueue::after(Seconds delay, Block block) { scheduleAfter(shared_from_this(), delay, std::move(block)); }
void ConcurrentQueue::after(Seconds delay, Block block) { scheduleAfter(shared_from_this(), delay, std::move(block)); }

const char* priorityName(Priority p) {
    switch (p) {
        case Priority::Background:
            return "com.hxconnect.root.background";
        case Priority::Low:
            return "com.hxconnect.root.low";
        case Priority::Utility:
            return "com.hxconnect.root.utility";
        case Priority::Default:
            return "com.hxconnect.root.default";
        case Priority::High:
            return "com.hxconnect.root.high";
    }
    return "com.hxconnect.root.default";
}

std::shared_ptr<QueueBase> asBase(const std::shared_ptr<Queue>& q) {
    if (!q) return std::static_pointer_cast<QueueBase>(Queue::global(Priority::Default));
    auto base = std::dynamic_pointer_cast<QueueBase>(q);
    if (!base) fatal("a queue target must be a queue made by this layer");
    return base;
}

}  // namespace
}  // namespace detail

std::shared_ptr<Queue> Queue::serial(std::string label, std::shared_ptr<Queue> target) {
    return std::make_shared<detail::SerialQueue>(std::move(label), detail::asBase(target));
}

std::shared_ptr<Queue> Queue::concurrent(std::string label, std::shared_ptr<Queue> target) {
    return std::make_shared<detail::ConcurrentQueue>(std::move(label), detail::asBase(target));
}

std::shared_ptr<Queue> Queue::main() {
    static auto* queue = new std::shared_ptr<Queue>(std::make_shared<detail::MainQueue>());
    return *queue;
}

std::shared_ptr<Queue> Queue::global(Priority priority) {
    static auto* queues = [] {
        auto* q = new std::shared_ptr<Queue>[5];
        for (int i = 0; i < 5; ++i) {
            auto p = static_cast<Priority>(i);
            q[i] = std::make_shared<detail::GlobalQueue>(detail::priorityName(p), p);
        }
        return q;
    }();
    int index = static_cast<int>(priority);
    if (index < 0 || index > 4) index = static_cast<int>(Priority::Default);
    return queues[index];
}

std::shared_ptr<Queue> Queue::current() {
    detail::Frame* f = detail::currentFrame();
    if (!f) return nullptr;
    return std::const_pointer_cast<Queue>(f->queue->shared_from_this());
}

}  // namespace dispatch
