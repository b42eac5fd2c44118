#include "common/deferred_stop.h"

#include <signal.h>

#include <atomic>
#include <csignal>

namespace tv {

namespace {

constexpr int kHeld[] = {SIGTERM, SIGINT};
std::atomic<int> g_depth{0};
volatile std::sig_atomic_t g_signal = 0;
struct sigaction g_before[2];

void on_stop(int sig) { g_signal = sig; }

}  // namespace

DeferredStop::DeferredStop() {
    if (g_depth.fetch_add(1) > 0) return;
    g_signal = 0;
    struct sigaction action {};
    action.sa_handler = on_stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 2; ++i) {
        ::sigaction(kHeld[i], &action, &g_before[i]);
        // A signal the process ignores (started under nohup) stays ignored.
        if (g_before[i].sa_handler == SIG_IGN) ::sigaction(kHeld[i], &g_before[i], nullptr);
    }
}

DeferredStop::~DeferredStop() {
    if (g_depth.fetch_sub(1) > 1) return;
    for (int i = 0; i < 2; ++i) ::sigaction(kHeld[i], &g_before[i], nullptr);
    const int sig = g_signal;
    g_signal = 0;
    if (sig != 0) ::raise(sig);
}

bool DeferredStop::requested() { return g_signal != 0; }

}  // namespace tv
