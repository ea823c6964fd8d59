#include "gif/MPTimer.h"

#include "core/Exceptions.h"
#include "core/Format.h"
#include "desktop/TApplication.h"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>

namespace {

// The platform's millisecond uptime counter; it wraps like a 32-bit tick count.
std::uint32_t millisecondTickCount()
{
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

// Tick differences wrap with the counter and are compared as signed numbers.
int ticksBetween(std::uint32_t from, std::uint32_t to)
{
    return static_cast<int>(static_cast<std::int32_t>(to - from));
}

} // namespace

TTrigger::TTrigger(TMPTimerPool& pool, int handle, std::uint32_t now)
    : pool_(&pool), handle_(handle), lastTick_(now), startTick_(now)
{
}

void TTrigger::SetEnabled(bool value)
{
    if (value == enabled_)
        return;
    bool allow = true;
    if (OnEnable) {
        const auto notify = OnEnable;
        TMPTimerPool::protect([&] { notify(pool_, handle_, allow, value); });
    }
    if (allow)
        enabled_ = value;
}

void TTrigger::SetInterval(int milliseconds)
{
    interval_ = std::max(milliseconds, MinInterval);
}

void TTrigger::SetCount(int value)
{
    if (value == count_)
        return;
    if (value == 0) {
        SetEnabled(false);
        count_ = -1;
    } else {
        count_ = value;
    }
}

template <class Callback> void TMPTimerPool::protect(Callback&& callback)
{
    try {
        callback();
    } catch (const EAbort&) {
        // An abort only unwinds the callback.
    } catch (const Exception& error) {
        Application().HandleException(error);
    }
}

TMPTimerPool::TMPTimerPool(QObject* owner) : QObject(owner), tickSource_(millisecondTickCount) {}

TMPTimerPool::~TMPTimerPool()
{
    *alive_ = false;
    // Triggers freed together with their pool send no stop notification.
    triggers_.clear();
    if (timer_ && inTimerSignal_) {
        // A callback run by this timer's own signal freed the pool: the timer object is still
        // on the call stack, so it is stopped now and deleted once the signal has returned.
        timer_->stop();
        timer_->disconnect();
        timer_.release()->deleteLater();
    }
}

int TMPTimerPool::AddTrigger(int interval, int count, TMPTriggerEvent onTrigger)
{
    const int handle = NewHandle();
    triggers_.push_back(std::unique_ptr<TTrigger>(new TTrigger(*this, handle, Now())));
    TTrigger* trigger = triggers_.back().get();
    try {
        trigger->SetEnabled(defEnabled_);
        trigger->SetInterval(interval);
        trigger->SetCount(count);
    } catch (...) {
        if (owns(trigger))
            triggers_.erase(triggers_.begin() + static_cast<std::ptrdiff_t>(indexOf(handle)));
        updateTimer();
        throw;
    }
    trigger->OnTrigger = std::move(onTrigger);
    updateTimer();
    return handle;
}

int TMPTimerPool::AddInfiniteTrigger(int interval, TMPTriggerEvent onTrigger)
{
    return AddTrigger(interval, -1, std::move(onTrigger));
}

void TMPTimerPool::RemoveTrigger(int handle)
{
    TTrigger* trigger = triggers_[indexOf(handle)].get();
    if (trigger->OnStop) {
        const auto notify = trigger->OnStop;
        const int elapsed = ticksBetween(trigger->startTick_, Now());
        const auto alive = alive_;
        protect([&] { notify(this, handle, elapsed); });
        // The notification may have freed the pool or removed the trigger itself.
        if (!*alive || !owns(trigger))
            return;
    }
    triggers_.erase(std::find_if(triggers_.begin(), triggers_.end(),
                                 [trigger](const auto& owned) { return owned.get() == trigger; }));
    updateTimer();
}

void TMPTimerPool::SetTriggerEnabled(int handle, bool value)
{
    Trigger(handle).SetEnabled(value);
    updateTimer();
}

void TMPTimerPool::SetTriggerInterval(int handle, int milliseconds)
{
    Trigger(handle).SetInterval(milliseconds);
    updateTimer();
}

int TMPTimerPool::EnabledTriggerCount() const
{
    return static_cast<int>(std::count_if(triggers_.begin(), triggers_.end(),
                                          [](const auto& trigger) { return trigger->enabled_; }));
}

TTrigger& TMPTimerPool::Trigger(int handle) const
{
    return *triggers_[indexOf(handle)];
}

bool TMPTimerPool::HasTimer() const
{
    return timer_ && timer_->isActive();
}

int TMPTimerPool::TimerInterval() const
{
    return HasTimer() ? timer_->interval() : 0;
}

int TMPTimerPool::NewHandle() const
{
    int handle = 0;
    while (std::any_of(triggers_.begin(), triggers_.end(),
                       [handle](const auto& trigger) { return trigger->handle_ == handle; }))
        ++handle;
    return handle;
}

void TMPTimerPool::TimerTick()
{
    const std::uint32_t now = Now();
    const auto alive = alive_;
    // Callbacks may add and remove triggers, so the tick walks a copy of the list and skips
    // triggers that have gone meanwhile.
    std::vector<TTrigger*> triggers;
    triggers.reserve(triggers_.size());
    for (const auto& trigger : triggers_)
        triggers.push_back(trigger.get());
    for (TTrigger* trigger : triggers) {
        if (!*alive)
            return;
        if (!owns(trigger) || !trigger->enabled_)
            continue;
        if (ticksBetween(trigger->lastTick_, now) >= trigger->interval_ - TickAllowance)
            fire(trigger, now);
    }
    if (*alive && OnAllTriggers) {
        const auto notify = OnAllTriggers;
        protect([&] { notify(this, -1, 0, 0); });
    }
}

void TMPTimerPool::fire(TTrigger* trigger, std::uint32_t now)
{
    const auto alive = alive_;
    if (trigger->OnTrigger) {
        const auto notify = trigger->OnTrigger;
        const int handle = trigger->handle_;
        const int interval = ticksBetween(trigger->lastTick_, now);
        const int elapsed = ticksBetween(trigger->startTick_, now);
        protect([&] { notify(this, handle, interval, elapsed); });
        if (!*alive || !owns(trigger))
            return;
    }
    trigger->lastTick_ = now;
    if (trigger->count_ > 0)
        --trigger->count_;
    if (trigger->count_ == 0) {
        // The timer is left as it is; the next re-evaluation notices the disabled trigger.
        trigger->SetEnabled(false);
        trigger->count_ = -1;
    }
}

void TMPTimerPool::updateTimer()
{
    int smallest = INT_MAX;
    for (const auto& trigger : triggers_)
        if (trigger->enabled_)
            smallest = std::min(smallest, trigger->interval_);
    if (smallest == INT_MAX) {
        if (timer_)
            timer_->stop();
        return;
    }
    smallest = std::max(smallest, TTrigger::MinInterval);
    if (HasTimer() && timer_->interval() == smallest)
        return;
    if (!timer_) {
        timer_ = std::make_unique<QTimer>();
        timer_->setTimerType(Qt::PreciseTimer);
        connect(timer_.get(), &QTimer::timeout, this, [this] {
            const auto alive = alive_;
            inTimerSignal_ = true;
            // Whatever a callback lets through is reported here rather than thrown into the
            // event loop.
            Application().Guard([this] { TimerTick(); });
            if (*alive)
                inTimerSignal_ = false;
        });
    }
    timer_->start(smallest);
}

bool TMPTimerPool::owns(const TTrigger* trigger) const
{
    return std::any_of(triggers_.begin(), triggers_.end(),
                       [trigger](const auto& owned) { return owned.get() == trigger; });
}

std::size_t TMPTimerPool::indexOf(int handle) const
{
    if (handle >= 0)
        for (std::size_t i = 0; i < triggers_.size(); ++i)
            if (triggers_[i]->handle_ == handle)
                return i;
    throw EListError(core::Format("Invalid trigger handle %d", {handle}));
}
