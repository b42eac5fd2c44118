#include "framework/qt/timer.h"

#include <QTimer>

namespace tv::fw {
namespace {

class QtTimer : public Timer {
public:
    QtTimer() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (tick_) {
                auto tick = tick_;  // the tick may restart or stop this timer
                tick();
            }
        });
    }
    void start(int interval_ms, std::function<void()> tick, bool single_shot) override {
        tick_ = std::move(tick);
        timer_.setSingleShot(single_shot);
        timer_.start(interval_ms < 0 ? 0 : interval_ms);
    }
    void stop() override { timer_.stop(); }
    bool active() const override { return timer_.isActive(); }
    int interval() const override { return timer_.interval(); }

private:
    QTimer timer_;
    std::function<void()> tick_;
};

TimerFactory& factory() {
    static TimerFactory f;
    return f;
}

}  // namespace

std::unique_ptr<Timer> make_timer() {
    if (factory()) return factory()();
    return std::make_unique<QtTimer>();
}

void set_timer_factory(TimerFactory f) { factory() = std::move(f); }

// --- ManualTimers

struct ManualTimers::State {
    struct Entry {
        bool alive = true, active = false, single_shot = false;
        int interval = 0;
        std::function<void()> tick;
    };
    std::vector<Entry> entries;
};

namespace {
class ManualTimer : public Timer {
public:
    ManualTimer(std::shared_ptr<ManualTimers::State> state, std::size_t index)
        : state_(std::move(state)), index_(index) {}
    ~ManualTimer() override {
        auto& e = state_->entries[index_];
        e.alive = false;
        e.active = false;
        e.tick = nullptr;
    }
    void start(int interval_ms, std::function<void()> tick, bool single_shot) override {
        auto& e = state_->entries[index_];
        e.active = true;
        e.interval = interval_ms;
        e.single_shot = single_shot;
        e.tick = std::move(tick);
    }
    void stop() override { state_->entries[index_].active = false; }
    bool active() const override { return state_->entries[index_].active; }
    int interval() const override { return state_->entries[index_].interval; }

private:
    std::shared_ptr<ManualTimers::State> state_;
    std::size_t index_;
};
}  // namespace

ManualTimers::ManualTimers() : state_(std::make_shared<State>()) {
    auto state = state_;
    set_timer_factory([state]() -> std::unique_ptr<Timer> {
        state->entries.emplace_back();
        return std::make_unique<ManualTimer>(state, state->entries.size() - 1);
    });
}

ManualTimers::~ManualTimers() { set_timer_factory({}); }

std::size_t ManualTimers::count() const { return state_->entries.size(); }

bool ManualTimers::active(std::size_t index) const {
    return index < state_->entries.size() && state_->entries[index].alive && state_->entries[index].active;
}

int ManualTimers::interval(std::size_t index) const {
    return index < state_->entries.size() ? state_->entries[index].interval : 0;
}

bool ManualTimers::fire(std::size_t index) {
    if (!active(index)) return false;
    auto& e = state_->entries[index];
    if (e.single_shot) e.active = false;
    auto tick = e.tick;  // the entry vector may grow while the tick runs
    if (tick) tick();
    return true;
}

int ManualTimers::fire_interval(int interval_ms) {
    int n = 0;
    const std::size_t count = state_->entries.size();
    for (std::size_t i = 0; i < count; ++i)
        if (active(i) && state_->entries[i].interval == interval_ms && fire(i)) ++n;
    return n;
}

}  // namespace tv::fw
