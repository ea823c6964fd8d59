#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QTimer;
class TMPTimerPool;

// Called at each firing of a trigger, and with handle -1 and zero ticks after every tick of
// the pool. IntervalTicks: milliseconds since the trigger last fired; ElapsedTicks:
// milliseconds since it was created.
using TMPTriggerEvent =
    std::function<void(TMPTimerPool* Sender, int Handle, int IntervalTicks, int ElapsedTicks)>;
// Called when a trigger is removed from its pool while the pool lives on.
using TMPTriggerStopEvent = std::function<void(TMPTimerPool* Sender, int Handle, int ElapsedTicks)>;
// Asked before a trigger's enabled state changes; clearing Allow keeps the old state.
using TMPTriggerEnableEvent =
    std::function<void(TMPTimerPool* Sender, int Handle, bool& Allow, bool NewValue)>;

// One periodic callback of a timer pool. The pool creates and owns its triggers; callers know
// them by their handles.
class TTrigger {
public:
    // No trigger fires more often than this, whatever interval it is given.
    static constexpr int MinInterval = 55;

    TTrigger(const TTrigger&) = delete;
    TTrigger& operator=(const TTrigger&) = delete;

    TMPTimerPool* Owner() const { return pool_; }
    int Handle() const { return handle_; }

    bool Enabled() const { return enabled_; }
    // A change is first offered to OnEnable, which may veto it.
    void SetEnabled(bool value);
    int Interval() const { return interval_; }
    void SetInterval(int milliseconds);
    // Firings left; -1 means without end. Setting 0 disables the trigger and stores -1.
    int Count() const { return count_; }
    void SetCount(int value);

    std::uint32_t LastTick() const { return lastTick_; }
    std::uint32_t StartTick() const { return startTick_; }

    TMPTriggerEvent OnTrigger;
    TMPTriggerStopEvent OnStop;
    TMPTriggerEnableEvent OnEnable;

private:
    friend class TMPTimerPool;
    TTrigger(TMPTimerPool& pool, int handle, std::uint32_t now);

    TMPTimerPool* pool_;
    bool enabled_ = false;
    int handle_;
    int interval_ = 0;
    int count_ = 0;
    std::uint32_t lastTick_;
    std::uint32_t startTick_;
};

// Runs any number of triggers from one platform timer on the main thread's message loop. The
// timer exists exactly while at least one trigger is enabled, and its period is the smallest
// enabled interval. A trigger fires on the first tick at which its interval, less a small
// allowance for early ticks, has passed since it last fired.
class TMPTimerPool : public QObject {
public:
    // A tick that arrives this many milliseconds early still counts as on time.
    static constexpr int TickAllowance = 23;

    // The millisecond tick count; tests substitute a clock of their own.
    using TickSource = std::function<std::uint32_t()>;

    explicit TMPTimerPool(QObject* owner = nullptr);
    ~TMPTimerPool() override;

    // Whether new triggers start enabled.
    bool DefEnabled() const { return defEnabled_; }
    void SetDefEnabled(bool value) { defEnabled_ = value; }

    // Creates a trigger firing every interval milliseconds, count times (-1: without end), and
    // returns its handle, the smallest one not in use.
    int AddTrigger(int interval, int count, TMPTriggerEvent onTrigger);
    int AddInfiniteTrigger(int interval, TMPTriggerEvent onTrigger);
    void RemoveTrigger(int handle);
    void SetTriggerEnabled(int handle, bool value);
    void SetTriggerInterval(int handle, int milliseconds);

    int TriggerCount() const { return static_cast<int>(triggers_.size()); }
    int EnabledTriggerCount() const;

    // The trigger with that handle; an unknown handle raises "Invalid trigger handle %d".
    TTrigger& Trigger(int handle) const;

    // Whether the platform timer runs, and its period in milliseconds (0 when it does not).
    bool HasTimer() const;
    int TimerInterval() const;

    void SetTickSource(TickSource source) { tickSource_ = std::move(source); }
    std::uint32_t Now() const { return tickSource_(); }

    TMPTriggerEvent OnAllTriggers;

protected:
    virtual int NewHandle() const;
    // One tick of the platform timer: fires every enabled trigger that is due.
    virtual void TimerTick();

private:
    friend class TTrigger;

    // Runs a callback; an abort is swallowed silently, any other error of the system's own
    // kind is reported by the application and swallowed, anything else passes on.
    template <class Callback> static void protect(Callback&& callback);

    void updateTimer();
    void fire(TTrigger* trigger, std::uint32_t now);
    bool owns(const TTrigger* trigger) const;
    std::size_t indexOf(int handle) const;

    bool defEnabled_ = true;
    std::vector<std::unique_ptr<TTrigger>> triggers_;
    // Created on first need and kept; stopped when no trigger is enabled.
    std::unique_ptr<QTimer> timer_;
    TickSource tickSource_;
    // Cleared by the destructor, so that a tick running callbacks notices that a callback freed
    // the pool and touches nothing more.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool inTimerSignal_ = false;
};
