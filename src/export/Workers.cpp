#include "Workers.h"

#include <algorithm>

namespace quillex {

TWorkers::TWorkers(int Threads)
{
    for (int t = 1; t < std::max(1, Threads); ++t)
        FThreads.emplace_back([this, t] { Work(t); });
}

TWorkers::~TWorkers()
{
    {
        std::lock_guard lock(FMutex);
        FStop = true;
    }
    FWake.notify_all();
    for (std::thread& t : FThreads)
        t.join();
}

void TWorkers::Run(int Tasks, const std::function<void(int, int)>& Task)
{
    Start(Tasks, Task);
    Finish();
}

void TWorkers::Start(int Tasks, const std::function<void(int, int)>& Task)
{
    {
        std::lock_guard lock(FMutex);
        FTask = &Task;
        FTasks = Tasks;
        FNext = 0;
        FBusy = static_cast<int>(FThreads.size());
        FError = nullptr;
        ++FGeneration;
    }
    FWake.notify_all();
}

void TWorkers::Finish()
{
    TakeTasks(0);
    std::unique_lock lock(FMutex);
    FDone.wait(lock, [this] { return FBusy == 0; });
    FTask = nullptr;
    if (FError)
        std::rethrow_exception(FError);
}

void TWorkers::TakeTasks(int Thread)
{
    for (;;) {
        int task;
        {
            std::lock_guard lock(FMutex);
            if (FNext >= FTasks || FError)
                return;
            task = FNext++;
        }
        try {
            (*FTask)(task, Thread);
        } catch (...) {
            std::lock_guard lock(FMutex);
            if (!FError)
                FError = std::current_exception();
        }
    }
}

void TWorkers::Work(int Thread)
{
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(FMutex);
            FWake.wait(lock, [&] { return FStop || FGeneration != seen; });
            if (FStop)
                return;
            seen = FGeneration;
        }
        TakeTasks(Thread);
        {
            std::lock_guard lock(FMutex);
            --FBusy;
        }
        FDone.notify_one();
    }
}

} // namespace quillex
