#include "gif/MPTimer.h"

#include "core/Exceptions.h"
#include "tests/support/TempPrefix.h"

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A pool on a clock that the test moves by hand; ticks are delivered by calling tick().
class ManualPool : public TMPTimerPool {
public:
    ManualPool()
    {
        SetTickSource([this] { return now; });
    }
    void tick() { TimerTick(); }
    void advance(int milliseconds)
    {
        now += static_cast<std::uint32_t>(milliseconds);
        tick();
    }
    int newHandle() const { return NewHandle(); }

    std::uint32_t now = 1000;
};

struct Firing {
    int handle;
    int intervalTicks;
    int elapsedTicks;
    bool operator==(const Firing&) const = default;
};

class GifTimerPool : public TempPrefixTest {
protected:
    // An OnTrigger that records each firing.
    TMPTriggerEvent recorder()
    {
        return [this](TMPTimerPool* sender, int handle, int interval, int elapsed) {
            EXPECT_EQ(sender, &pool);
            firings.push_back({handle, interval, elapsed});
        };
    }
    int firedCount(int handle) const
    {
        int count = 0;
        for (const Firing& firing : firings)
            count += firing.handle == handle;
        return count;
    }

    ManualPool pool;
    std::vector<Firing> firings;
};

} // namespace

TEST_F(GifTimerPool, HandlesAreTheSmallestNotInUse)
{
    EXPECT_EQ(pool.AddTrigger(100, -1, nullptr), 0);
    EXPECT_EQ(pool.AddTrigger(100, -1, nullptr), 1);
    EXPECT_EQ(pool.AddTrigger(100, -1, nullptr), 2);
    pool.RemoveTrigger(0);
    EXPECT_EQ(pool.newHandle(), 0);
    EXPECT_EQ(pool.AddInfiniteTrigger(100, nullptr), 0);
    pool.RemoveTrigger(1);
    EXPECT_EQ(pool.AddTrigger(100, -1, nullptr), 1);
    EXPECT_EQ(pool.AddTrigger(100, -1, nullptr), 3);
    EXPECT_EQ(pool.TriggerCount(), 4);
}

TEST_F(GifTimerPool, UnknownHandlesRaiseListError)
{
    pool.AddTrigger(100, -1, nullptr);
    for (int handle : {7, -1, 1}) {
        SCOPED_TRACE(handle);
        const std::string message = "Invalid trigger handle " + std::to_string(handle);
        try {
            pool.RemoveTrigger(handle);
            FAIL() << "accepted";
        } catch (const EListError& error) {
            EXPECT_EQ(error.Message, message);
        }
        EXPECT_THROW(pool.SetTriggerEnabled(handle, true), EListError);
        EXPECT_THROW(pool.SetTriggerInterval(handle, 100), EListError);
    }
    EXPECT_EQ(pool.TriggerCount(), 1);
}

TEST_F(GifTimerPool, IntervalsAreAtLeast55Milliseconds)
{
    const int handle = pool.AddTrigger(10, -1, nullptr);
    EXPECT_EQ(pool.Trigger(handle).Interval(), 55);
    EXPECT_EQ(pool.TimerInterval(), 55);
    pool.SetTriggerInterval(handle, 0);
    EXPECT_EQ(pool.Trigger(handle).Interval(), 55);
    pool.SetTriggerInterval(handle, 56);
    EXPECT_EQ(pool.Trigger(handle).Interval(), 56);
    EXPECT_EQ(pool.TimerInterval(), 56);
}

TEST_F(GifTimerPool, TimerRunsAtTheSmallestEnabledInterval)
{
    EXPECT_FALSE(pool.HasTimer());
    const int slow = pool.AddTrigger(300, -1, nullptr);
    EXPECT_EQ(pool.TimerInterval(), 300);
    const int fast = pool.AddTrigger(100, -1, nullptr);
    EXPECT_EQ(pool.TimerInterval(), 100);
    pool.SetTriggerEnabled(fast, false);
    EXPECT_EQ(pool.TimerInterval(), 300);
    EXPECT_EQ(pool.EnabledTriggerCount(), 1);
    // Disabling the last enabled trigger frees the timer; enabling it again makes one.
    pool.SetTriggerEnabled(slow, false);
    EXPECT_FALSE(pool.HasTimer());
    pool.SetTriggerEnabled(slow, true);
    EXPECT_EQ(pool.TimerInterval(), 300);
    // Removing the only enabled trigger frees the timer at once.
    pool.RemoveTrigger(slow);
    EXPECT_FALSE(pool.HasTimer());
    EXPECT_EQ(pool.TriggerCount(), 1);
    // With DefEnabled off, new triggers start disabled and need no timer.
    pool.SetDefEnabled(false);
    EXPECT_FALSE(pool.Trigger(pool.AddTrigger(100, -1, nullptr)).Enabled());
    EXPECT_FALSE(pool.HasTimer());
}

TEST_F(GifTimerPool, SlowTriggerFiresOnEveryThirdTickOfAFastTimer)
{
    const int fast = pool.AddTrigger(100, -1, recorder());
    const int slow = pool.AddTrigger(300, -1, recorder());
    for (int tick = 0; tick < 9; ++tick)
        pool.advance(100);
    EXPECT_EQ(firedCount(fast), 9);
    EXPECT_EQ(firedCount(slow), 3);
    // The slow trigger fires at 300, 600 and 900 ms after its creation.
    std::vector<Firing> slowFirings;
    for (const Firing& firing : firings)
        if (firing.handle == slow)
            slowFirings.push_back(firing);
    EXPECT_EQ(slowFirings,
              (std::vector<Firing>{{slow, 300, 300}, {slow, 300, 600}, {slow, 300, 900}}));
}

TEST_F(GifTimerPool, TicksUpTo23MillisecondsEarlyStillFire)
{
    const int handle = pool.AddTrigger(300, -1, recorder());
    struct Step {
        int advance;
        bool fires;
    };
    // 277 ms is the interval less the allowance; 276 is too early.
    const Step steps[] = {{276, false}, {1, true}, {277, true}, {200, false}, {100, true}};
    for (const Step& step : steps) {
        const std::size_t before = firings.size();
        pool.advance(step.advance);
        EXPECT_EQ(firings.size() - before, step.fires ? 1u : 0u) << step.advance;
    }
    EXPECT_EQ(firedCount(handle), 3);
}

TEST_F(GifTimerPool, TickDifferencesWrapWithTheCounter)
{
    pool.now = 0xFFFFFF00u;
    const int handle = pool.AddTrigger(100, -1, recorder());
    pool.advance(0x100 + 44); // the counter wrapped to 44
    ASSERT_EQ(firings.size(), 1u);
    EXPECT_EQ(firings[0], (Firing{handle, 300, 300}));
}

TEST_F(GifTimerPool, CountedTriggerDisablesItselfWhenItRunsOut)
{
    const int handle = pool.AddTrigger(100, 3, recorder());
    for (int tick = 0; tick < 5; ++tick)
        pool.advance(100);
    EXPECT_EQ(firedCount(handle), 3);
    EXPECT_FALSE(pool.Trigger(handle).Enabled());
    EXPECT_EQ(pool.Trigger(handle).Count(), -1);
    // Running out does not re-evaluate the timer; the next re-evaluation frees it.
    EXPECT_TRUE(pool.HasTimer());
    pool.SetTriggerInterval(handle, 200);
    EXPECT_FALSE(pool.HasTimer());
}

TEST_F(GifTimerPool, CountZeroFiresOnceAndSettingZeroDisables)
{
    // Count 0 equals the initial count, so it is kept: the trigger fires once.
    const int once = pool.AddTrigger(100, 0, recorder());
    EXPECT_EQ(pool.Trigger(once).Count(), 0);
    pool.advance(100);
    pool.advance(100);
    EXPECT_EQ(firedCount(once), 1);
    EXPECT_EQ(pool.Trigger(once).Count(), -1);

    // Setting 0 on a running trigger disables it and stores -1.
    TTrigger& running = pool.Trigger(pool.AddTrigger(100, 5, nullptr));
    running.SetCount(0);
    EXPECT_FALSE(running.Enabled());
    EXPECT_EQ(running.Count(), -1);
}

TEST_F(GifTimerPool, EnableNotificationCanVetoAChange)
{
    const int handle = pool.AddTrigger(100, -1, nullptr);
    TTrigger& trigger = pool.Trigger(handle);
    std::vector<bool> asked;
    trigger.OnEnable = [&](TMPTimerPool* sender, int h, bool& allow, bool value) {
        EXPECT_EQ(sender, &pool);
        EXPECT_EQ(h, handle);
        asked.push_back(value);
        allow = false;
    };
    pool.SetTriggerEnabled(handle, false);
    EXPECT_TRUE(trigger.Enabled());
    pool.SetTriggerEnabled(handle, true); // no change, not asked
    EXPECT_EQ(asked, (std::vector<bool>{false}));
    EXPECT_TRUE(pool.HasTimer());
}

TEST_F(GifTimerPool, StopNotificationOnRemovalButNotWithThePool)
{
    std::vector<std::pair<int, int>> stopped;
    {
        ManualPool local;
        const int handle = local.AddTrigger(100, -1, nullptr);
        local.Trigger(handle).OnStop = [&](TMPTimerPool*, int h, int elapsed) {
            stopped.push_back({h, elapsed});
        };
        local.AddTrigger(100, -1, nullptr);
        local.Trigger(1).OnStop = [&](TMPTimerPool*, int h, int) { stopped.push_back({h, -1}); };
        local.now += 250;
        local.RemoveTrigger(handle);
    }
    EXPECT_EQ(stopped, (std::vector<std::pair<int, int>>{{0, 250}}));
}

TEST_F(GifTimerPool, CallbackErrorsAreReportedAndTheTimerGoesOn)
{
    int aborts = 0;
    const int aborting = pool.AddTrigger(100, -1, [&](TMPTimerPool*, int, int, int) {
        ++aborts;
        throw EAbort("stop");
    });
    int failures = 0;
    pool.AddTrigger(100, -1, [&](TMPTimerPool*, int, int, int) {
        ++failures;
        throw EInvalidOperation("Trigger failed");
    });
    pool.advance(100);
    pool.advance(100);
    EXPECT_EQ(aborts, 2);
    EXPECT_EQ(failures, 2);
    // The abort is silent; the other error reaches the error box each time.
    EXPECT_EQ(errors, (std::vector<std::string>{"Trigger failed.", "Trigger failed."}));
    EXPECT_EQ(pool.Trigger(aborting).LastTick(), pool.now);

    // Anything that is not the system's own error passes on.
    pool.AddTrigger(100, -1, [](TMPTimerPool*, int, int, int) { throw std::runtime_error("x"); });
    EXPECT_THROW(pool.advance(100), std::runtime_error);
}

TEST_F(GifTimerPool, AllTriggersEventFollowsEveryTick)
{
    std::vector<Firing> all;
    pool.OnAllTriggers = [&](TMPTimerPool*, int handle, int interval, int elapsed) {
        // It comes after the triggers that fired on this tick.
        EXPECT_EQ(firings.size(), all.size() + 1);
        all.push_back({handle, interval, elapsed});
    };
    pool.AddTrigger(100, -1, recorder());
    pool.advance(100);
    pool.advance(100);
    EXPECT_EQ(all, (std::vector<Firing>{{-1, 0, 0}, {-1, 0, 0}}));
}

TEST_F(GifTimerPool, CallbacksMayRemoveTriggersDuringATick)
{
    int second = -1;
    const int first = pool.AddTrigger(100, -1, [&](TMPTimerPool*, int handle, int, int) {
        pool.RemoveTrigger(second);
        pool.RemoveTrigger(handle);
    });
    second = pool.AddTrigger(100, -1, recorder());
    pool.advance(100);
    EXPECT_TRUE(firings.empty());
    EXPECT_EQ(pool.TriggerCount(), 0);
    EXPECT_FALSE(pool.HasTimer());
    EXPECT_THROW(pool.Trigger(first), EListError);
}

TEST_F(GifTimerPool, CallbackMayFreeThePoolFromItsOwnTimer)
{
    auto* owned = new TMPTimerPool;
    bool fired = false;
    owned->AddTrigger(55, -1, [&](TMPTimerPool* sender, int, int, int) {
        fired = true;
        delete sender;
    });
    for (int waited = 0; !fired && waited < 5000; waited += 10)
        QTest::qWait(10);
    EXPECT_TRUE(fired);
    QTest::qWait(20);
}

TEST_F(GifTimerPool, PlatformTimerDrivesTheTriggers)
{
    TMPTimerPool real;
    int count = 0;
    real.AddTrigger(60, 2, [&](TMPTimerPool*, int, int, int) { ++count; });
    for (int waited = 0; count < 2 && waited < 5000; waited += 10)
        QTest::qWait(10);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(real.EnabledTriggerCount(), 0);
}
