// Timers behind an interface, so that tests fire them by hand. make_timer() gives a QTimer-based
// one unless a test installed ManualTimers. Ticks arrive on the window thread.
#pragma once
#include <functional>
#include <memory>
#include <vector>

namespace tv::fw {

class Timer {
public:
    virtual ~Timer() = default;
    // (Re)starts a repeating timer; single_shot stops it after the first tick.
    virtual void start(int interval_ms, std::function<void()> tick, bool single_shot = false) = 0;
    virtual void stop() = 0;
    virtual bool active() const = 0;
    virtual int interval() const = 0;
};

std::unique_ptr<Timer> make_timer();
using TimerFactory = std::function<std::unique_ptr<Timer>()>;
void set_timer_factory(TimerFactory factory);  // empty restores the real timers

// A test's timers: while it lives, make_timer() hands out manual timers that tick only when told.
class ManualTimers {
public:
    ManualTimers();
    ~ManualTimers();
    ManualTimers(const ManualTimers&) = delete;
    ManualTimers& operator=(const ManualTimers&) = delete;

    std::size_t count() const;             // timers made (alive or not)
    bool active(std::size_t index) const;  // false for a destroyed timer
    int interval(std::size_t index) const;
    // Ticks one timer (when active); true when it ticked.
    bool fire(std::size_t index);
    // Ticks every active timer with this interval; the number ticked.
    int fire_interval(int interval_ms);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace tv::fw
