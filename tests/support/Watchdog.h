#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// Ends the whole test process when the code in its scope has not returned within the limit:
// a call stuck in open() or in an endless read cannot be interrupted, and a test that hangs
// would hold up the whole run instead of failing. The code under test runs on the caller's
// thread, so widgets can be driven from it.
class Watchdog {
public:
    explicit Watchdog(std::string what, std::chrono::seconds limit = std::chrono::seconds(10));
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};
