#include "tests/support/Watchdog.h"

#include <cstdio>
#include <cstdlib>

Watchdog::Watchdog(std::string what, std::chrono::seconds limit) : what_(std::move(what))
{
    thread_ = std::thread([this, limit] {
        std::unique_lock lock(mutex_);
        if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
            std::fprintf(stderr, "Watchdog: %s did not return within %lld s; aborting\n",
                         what_.c_str(), static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::abort();
        }
    });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    done_.notify_one();
    thread_.join();
}
