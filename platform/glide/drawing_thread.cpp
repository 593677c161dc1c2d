// The second drawing thread: it shades the rows of the odd bands (see kBandShift) while the
// calling thread shades the even ones, so that two cores share a frame's pixels. Each row is
// written by one thread only, in the order the triangles were drawn, so the pictures are the
// same bits as with one thread, however the two threads are timed.
#include <immintrin.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "glideext.h"
#include "raster.h"

namespace glide {

bool bandJobsQueued = false;

namespace {

// A single-producer, single-consumer ring of jobs: the calling thread appends at `head`, the
// drawing thread runs from `tail`. Each waits for the other by spinning for a short while, then
// sleeping on the counter it waits for, so an idle thread costs nothing.
//
// Between two cores every cache line the threads share is a transfer, and a line written by
// one and read by the other is one each time. So the calling thread publishes small jobs in
// batches: the drawing thread then reads a run of slots at a time instead of waiting on the
// head counter for each, and the counter's line crosses once a batch. The slots a few jobs
// ahead are claimed for writing before they are filled, so filling them does not stall on the
// other core's copy.
class DrawingThread {
  public:
    DrawingThread() : slots_(new Slot[kSlots]), thread_([this] { loop(); }) {}

    ~DrawingThread() {
        wait();
        // A job without a function tells the thread to end. The thread may have missed the
        // publication's wake-up (see publish), so it is woken regardless.
        push(nullptr, nullptr, 0, true);
        head_.notify_one();
        thread_.join();
    }

    // Appends a job. An `urgent` one is published at once, with those before it; others wait
    // for a batch to fill or for the calling thread to wait on the drawing thread.
    void push(void (*run)(const void*), const void* data, std::size_t size, bool urgent) {
        const std::uint32_t head = next_;
        // The drawing thread's counter is read only when the ring looks full by the last value
        // seen: reading it on every push would move its cache line between the cores each time.
        if (head - seenTail_ == kSlots)
            waitForTail([head](std::uint32_t tail) { return head - tail < kSlots; });
        char* ahead = reinterpret_cast<char*>(&slots_[(head + kClaimAhead) % kSlots]);
        for (std::size_t at = 0; at < sizeof(Slot); at += 64) _m_prefetchw(ahead + at);
        Slot& slot = slots_[head % kSlots];
        slot.run = run;
        if (size) std::memcpy(slot.data, data, size);
        ++pushed_;
        next_ = head + 1;
        if (urgent || next_ - head_.load(std::memory_order_relaxed) >= kBatch) publish();
    }

    // Returns once every job pushed so far has run.
    void wait() {
        const std::uint32_t head = next_;
        waitForTail([head](std::uint32_t tail) { return tail == head; });
    }

    // The number of jobs pushed so far; the last one pushed is job pushed() - 1.
    std::uint64_t pushed() const { return pushed_; }

    // Returns once job `job` (counted from 0 since the thread started) has run.
    void waitFor(std::uint64_t job) {
        if (job >= pushed_) return;
        // The ring holds fewer jobs than the 32-bit counters can tell apart.
        const std::uint32_t head = next_;
        const std::uint32_t behind = std::uint32_t(pushed_ - job);  // jobs from `job` to head
        waitForTail([head, behind](std::uint32_t tail) { return head - tail < behind; });
    }

    std::uint64_t jobsRun() const { return jobsRun_.load(std::memory_order_relaxed); }

  private:
    // Enough for the second thread to fall well behind; small enough to stay in the cache.
    static constexpr std::uint32_t kSlots = 128;
    // Jobs published together, and how far ahead of the one being filled a slot is claimed.
    static constexpr std::uint32_t kBatch = 8;
    static constexpr std::uint32_t kClaimAhead = 16;
    // Steps before a waiting thread sleeps (a few tens of microseconds): long enough to cover
    // the gaps between the triangles of a frame, short next to a frame.
    static constexpr int kSpins = 2000;

    struct Slot {
        void (*run)(const void*) = nullptr;
        alignas(64) unsigned char data[kBandJobBytes];
    };

    // One step of a spinning wait: a pause, and now and then the processor is offered to other
    // threads, so that a spinning thread does not keep its partner (or another program) from
    // running on a busy machine.
    static void spinStep(int i) {
        if (i % 64 == 63)
            std::this_thread::yield();
        else
            _mm_pause();
    }

    // Makes the jobs pushed so far visible to the drawing thread, and wakes it if it sleeps.
    // The head is stored without a full barrier, which would wait for the slots' lines to be
    // written through: the thread may then go to sleep just as the head moves, unseen here.
    // waitForTail checks again behind a barrier before it waits on the thread, so such a job
    // waits at most until the calling thread needs it done.
    void publish() {
        head_.store(next_, std::memory_order_release);
        if (threadSleeping_.load(std::memory_order_relaxed)) head_.notify_one();
    }

    // Returns once done(tail) holds, at once if it holds for the last value seen.
    template <class Done>
    void waitForTail(Done done) {
        if (done(seenTail_)) return;
        if (head_.load(std::memory_order_relaxed) != next_)
            head_.store(next_, std::memory_order_release);
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (threadSleeping_.load(std::memory_order_relaxed)) head_.notify_one();
        for (int i = 0; i < kSpins; ++i) {
            seenTail_ = tail_.load(std::memory_order_acquire);
            if (done(seenTail_)) return;
            spinStep(i);
        }
        callerWaiting_.store(true, std::memory_order_seq_cst);
        for (;;) {
            seenTail_ = tail_.load(std::memory_order_seq_cst);
            if (done(seenTail_)) break;
            tail_.wait(seenTail_, std::memory_order_seq_cst);
        }
        callerWaiting_.store(false, std::memory_order_relaxed);
    }

    void loop() {
        std::uint32_t tail = tail_.load(std::memory_order_relaxed);
        for (;;) {
            std::uint32_t head = head_.load(std::memory_order_acquire);
            if (head == tail) {
                std::atomic_thread_fence(std::memory_order_seq_cst);
                if (callerWaiting_.load(std::memory_order_relaxed)) tail_.notify_one();
            }
            for (int i = 0; head == tail && i < kSpins; ++i) {
                spinStep(i);
                head = head_.load(std::memory_order_acquire);
            }
            if (head == tail) {
                threadSleeping_.store(true, std::memory_order_seq_cst);
                head = head_.load(std::memory_order_seq_cst);
                if (head == tail) head_.wait(tail, std::memory_order_seq_cst);
                threadSleeping_.store(false, std::memory_order_relaxed);
                continue;
            }
            for (; tail != head; ++tail) {
                const Slot& slot = slots_[tail % kSlots];
                if (tail + 1 != head) {
                    const char* next = reinterpret_cast<const char*>(&slots_[(tail + 1) % kSlots]);
                    for (std::size_t at = 0; at < sizeof(Slot); at += 64)
                        _mm_prefetch(next + at, _MM_HINT_T0);
                }
                if (!slot.run) return;
                slot.run(slot.data);
                // Only this thread writes the count: no locked instruction needed.
                jobsRun_.store(jobsRun_.load(std::memory_order_relaxed) + 1,
                               std::memory_order_relaxed);
                tail_.store(tail + 1, std::memory_order_release);
                if (callerWaiting_.load(std::memory_order_relaxed)) tail_.notify_one();
            }
        }
    }

    // Each cache line below is written by one thread only, so that a write does not take a
    // line the other thread is reading (every transfer between cores stalls the writer).
    std::unique_ptr<Slot[]> slots_;  // set before the thread starts
    // The calling thread's own counters, which the drawing thread never reads.
    alignas(64) std::uint64_t pushed_ = 0;
    std::uint32_t next_ = 0;      // the head once the pushed jobs are published
    std::uint32_t seenTail_ = 0;  // the calling thread's last reading of tail_
    alignas(64) std::atomic<std::uint32_t> head_{0};
    // Written by the drawing thread after each job.
    alignas(64) std::atomic<std::uint32_t> tail_{0};
    std::atomic<std::uint64_t> jobsRun_{0};
    // Each written only when a thread goes to sleep or wakes.
    alignas(64) std::atomic<bool> threadSleeping_{false};
    alignas(64) std::atomic<bool> callerWaiting_{false};
    std::thread thread_;
};

// Two threads where the machine has a second core, unless TARNOVEL_DRAWING_THREADS says 1.
int defaultThreads() {
    if (const char* text = std::getenv("TARNOVEL_DRAWING_THREADS")) {
        const std::string value = text;
        if (value == "1" || value == "2") return value == "2" ? 2 : 1;
        std::fprintf(stderr,
                     "glide: TARNOVEL_DRAWING_THREADS is \"%s\"; it can be 1 or 2, so the "
                     "default is used\n",
                     text);
    }
    return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

std::unique_ptr<DrawingThread>& drawingThread() {
    // A function's static outlives no global it uses: it is built after the board and ends
    // (finishing its jobs) before the board does.
    static std::unique_ptr<DrawingThread> thread;
    return thread;
}

}  // namespace

int wantedThreads = 0;

bool startBands() {
    if (wantedThreads == 0) wantedThreads = defaultThreads();
    if (wantedThreads < 2) return false;
    std::unique_ptr<DrawingThread>& thread = drawingThread();
    if (!thread) {
        try {
            thread = std::make_unique<DrawingThread>();
        } catch (const std::system_error& e) {
            std::fprintf(stderr, "glide: no second drawing thread (%s); drawing on one\n",
                         e.what());
            wantedThreads = 1;
            return false;
        }
    }
    return true;
}

std::uint64_t queueBandJob(void (*run)(const void*), const void* data, std::size_t size,
                           bool urgent) {
    DrawingThread& thread = *drawingThread();
    thread.push(run, data, size, urgent);
    bandJobsQueued = true;
    return thread.pushed();
}

void waitForBandJob(std::uint64_t job) {
    if (!bandJobsQueued || job == 0) return;
    if (const std::unique_ptr<DrawingThread>& thread = drawingThread()) thread->waitFor(job - 1);
}

void waitForBandJobs() {
    if (const std::unique_ptr<DrawingThread>& thread = drawingThread()) thread->wait();
    bandJobsQueued = false;
}

void setDrawingThreads(int threads) {
    finishDrawing();
    wantedThreads = threads < 2 ? 1 : 2;
    if (wantedThreads < 2) drawingThread().reset();
}

unsigned callerBands() {
    // Every other band: the two threads' shares of any larger triangle differ by a band at most.
    return 0x55;
}

int drawingThreads() {
    return bandsOn() ? 2 : 1;
}

std::uint64_t bandJobsRun() {
    const std::unique_ptr<DrawingThread>& thread = drawingThread();
    return thread ? thread->jobsRun() : 0;
}

}  // namespace glide

void grExtSetDrawingThreads(int threads) {
    glide::setDrawingThreads(threads);
}

int grExtDrawingThreads() {
    return glide::drawingThreads();
}
