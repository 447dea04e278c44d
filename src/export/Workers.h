#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quillex {

// A fixed team of threads that runs numbered tasks; the calling thread works too. Tasks
// are handed out one at a time, so a core slowed by other work simply takes fewer.
class TWorkers
{
public:
    // Threads counts the calling thread; at least 1.
    explicit TWorkers(int Threads);
    ~TWorkers();
    TWorkers(const TWorkers&) = delete;
    TWorkers& operator=(const TWorkers&) = delete;

    int Threads() const { return static_cast<int>(FThreads.size()) + 1; }

    // Runs Task(task, thread) for task = 0 .. Tasks-1 and returns when all are done;
    // thread (0 .. Threads-1) identifies the running thread's own buffers. The first
    // exception a task throws is rethrown here after the others have finished.
    void Run(int Tasks, const std::function<void(int Task, int Thread)>& Task);

    // Run in two halves, so that the calling thread can do other work while the team
    // starts: Start hands the tasks to the other threads and returns at once; Finish
    // takes the calling thread into the remaining tasks and returns (or rethrows) as Run
    // does. Task must live until Finish returns; every Start is followed by a Finish.
    void Start(int Tasks, const std::function<void(int Task, int Thread)>& Task);
    void Finish();

private:
    void Work(int Thread);
    void TakeTasks(int Thread);

    std::vector<std::thread> FThreads;
    std::mutex FMutex;
    std::condition_variable FWake, FDone;
    const std::function<void(int, int)>* FTask = nullptr;
    int FTasks = 0;
    int FNext = 0;
    int FBusy = 0;
    uint64_t FGeneration = 0;
    bool FStop = false;
    std::exception_ptr FError;
};

} // namespace quillex
