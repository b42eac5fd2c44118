// The reader's state with ordinary memory standing in for the named mappings, output to nowhere.
#pragma once
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/tape_mappings.h"
#include "kelmoth/kelmoth.h"
#include "platform/handles.h"

namespace tv::fuzz {

struct KelmothState {
    KelmothState() {
        static std::vector<std::uint16_t> ecg_store(3 * std::size_t(kRawEcgSamples));
        out_file = platform::open_file("/dev/null", "w");
        k.out = out_file.get();
        for (int c = 0; c < 3; ++c) k.ecg[c] = ecg_store.data() + c * std::size_t(kRawEcgSamples);
        std::memset(ctrl, 0, sizeof ctrl);
        std::memset(&events, 0, sizeof events);
        std::memset(&tape, 0, sizeof tape);
        k.ctrl = ctrl;
        k.events = &events;
        k.tape = &tape;
    }
    platform::UniqueFile out_file;
    kelmoth::Kelmoth k;
    EcgControlBlock ctrl[3];
    PatientEventList events;
    TapeDataBlock tape;
};

}  // namespace tv::fuzz
