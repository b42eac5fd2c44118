// Deck traces and the simulated deck: the trace file's header and records, then the model
// playing them into its ring and message stream while this side drains both as the reader does.
// Waits for the program (a command, a drained ring) and pauses are left out: no program runs.
#include <algorithm>
#include <chrono>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "platform/deck_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace p = tv::platform;
    static const std::string path = tv::fuzz::sub_folder("deck") + "TRACE.BIN";
    tv::fuzz::put_file(path, data, size);
    auto file = std::make_unique<p::FileTraceSource>();
    p::DeckGeometry geometry;
    p::DeckModelOptions options;
    std::string error;
    if (!file->open(path, geometry, options.idle_ms, error)) return 0;
    std::vector<p::TraceRecord> records;
    p::TraceRecord r;
    while (records.size() < 2000 && file->next(r)) {
        if (r.kind == p::TraceKind::wait_command || r.kind == p::TraceKind::sync) continue;
        if (r.kind == p::TraceKind::pause) r.value = 0;
        records.push_back(std::move(r));
    }
    file->rewind();
    // The ring's shape is the trace's, but small: the model gives every entry its full stride.
    geometry.entries = std::min<std::uint32_t>(geometry.entries, 8);
    options.idle_ms = std::min<std::uint32_t>(options.idle_ms, 5);
    p::InProcessDeck deck(std::make_unique<p::VectorTraceSource>(std::move(records)), geometry, options);
    p::DeckModel& model = deck.model();
    int err = 0;
    const std::uint32_t start[3] = {15, 107, 502};
    model.write(reinterpret_cast<const std::uint8_t*>(start), sizeof start, err);
    std::uint8_t out[p::kDeckControlOut];
    model.control(p::kIoctlMapBuffer, out, err);
    std::uint8_t* h = model.region().base;
    p::ring_store(h, p::ring::kEnabled, 1);
    model.control(p::kIoctlStartIso, out, err);
    std::uint8_t message[p::kDeckMessageMax];
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!model.trace_done() && std::chrono::steady_clock::now() < until) {
        (void)model.read(message, sizeof message, 0);
        p::ring_store(h, p::ring::kEnabled, 1);
        p::ring_store(h, p::ring::kReadIndex, p::ring_load(h, p::ring::kWriteIndex));
    }
    model.control(p::kIoctlStopIso, out, err);
    const std::uint32_t stop[3] = {15, 107, 81};
    model.write(reinterpret_cast<const std::uint8_t*>(stop), sizeof stop, err);
    // Idle messages come for ever (every read, with an idle time of 0): take what is queued.
    for (int i = 0; i < 64 && model.read(message, sizeof message, 0) > 0; ++i) {}
    return 0;
}
