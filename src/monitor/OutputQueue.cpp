#include "OutputQueue.h"

#include <algorithm>
#include <chrono>

namespace quillex::monitor {

TOutputQueue::TOutputQueue(int Capacity)
    : FMessages(size_t(std::max(Capacity, Reserve + 1))),
      FBlocks(std::make_unique<int16_t[]>(FMessages.size() * SampleCount))
{
}

bool TOutputQueue::PushFrame(double Stamp, double Steady, double Wall, bool Beyond,
                             const int16_t* Block)
{
    std::unique_lock lock(FMutex);
    if (!Room(Reserve + 1)) {
        ++FRefusedFrames;
        return false;
    }
    const int slot = (FHead + FCount) % Capacity();
    // The copy is made under the lock: the consumer takes only whole slots, and 16 KB cost
    // about a microsecond.
    std::copy_n(Block, SampleCount, FBlocks.get() + size_t(slot) * SampleCount);
    TOutMessage& m = FMessages[size_t(slot)];
    m.Kind = TOutMessage::TKind::Frame;
    m.Stamp = Stamp;
    m.Steady = Steady;
    m.Wall = Wall;
    m.Beyond = Beyond;
    // The writer is woken for every few frames only: each wake-up costs more than the frame's
    // copy, and the frames wait for it in order.
    const bool wake = ++FCount % FrameBatch == 0;
    lock.unlock();
    if (wake)
        FArrived.notify_one();
    return true;
}

bool TOutputQueue::Push(TOutMessage&& Message)
{
    std::unique_lock lock(FMutex);
    if (!Room(1)) {
        ++FRefusedMessages;
        return false;
    }
    FMessages[size_t((FHead + FCount) % Capacity())] = std::move(Message);
    ++FCount;
    lock.unlock();
    FArrived.notify_one();
    return true;
}

TOutMessage* TOutputQueue::Front(double Seconds, const int16_t** Block)
{
    std::unique_lock lock(FMutex);
    if (!FArrived.wait_for(lock, std::chrono::duration<double>(Seconds),
                           [this] { return FCount > 0; }))
        return nullptr;
    if (Block != nullptr)
        *Block = FBlocks.get() + size_t(FHead) * SampleCount;
    return &FMessages[size_t(FHead)];
}

void TOutputQueue::Pop()
{
    std::lock_guard lock(FMutex);
    if (FCount == 0)
        return;
    TOutMessage& m = FMessages[size_t(FHead)];
    m.Interval.reset();
    m.Settings.reset();
    FHead = (FHead + 1) % Capacity();
    --FCount;
}

int64_t TOutputQueue::RefusedFrames() const
{
    std::lock_guard lock(FMutex);
    return FRefusedFrames;
}

int64_t TOutputQueue::RefusedMessages() const
{
    std::lock_guard lock(FMutex);
    return FRefusedMessages;
}

} // namespace quillex::monitor
