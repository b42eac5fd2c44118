// Decompressor of the bit-stream card formats (sector types 33-35). It is handed one sector at a
// time and keeps its place between sectors; a block is one second (128 samples) per channel.
#pragma once
#include <array>
#include <cstdint>

namespace tv::vond {

class BitStreamDecoder {
public:
    static constexpr int kBlock = 128;
    static constexpr int kMaxChannels = 3;

    struct Step {
        bool ok = true;
        bool block_ready = false;
        bool sector_used = false;
        // The last sector of a stream holds no further block: what follows the last block is
        // padding, never decoded.
        bool stream_end = false;
    };

    void reset();
    // Starts at bit `bit` of the sector handed in next (40 is the first data bit).
    void position(int bit);
    // Runs until a block is ready or the sector is used up. Call again with the same sector
    // after a ready block. `last`: no stream sector follows this one, so a block may begin here
    // only where the sector declares one (offsets 3-4) or where bits other than zeros are left.
    Step step(const std::uint8_t* sector, bool last = false);

    const std::array<std::uint16_t, kBlock>& samples(int channel) const { return out_[channel]; }
    std::array<std::uint16_t, kBlock>& samples(int channel) { return out_[channel]; }
    const std::array<std::uint16_t, kBlock>& flags() const { return flags_; }

private:
    bool get_bits(const std::uint8_t* data, int n, unsigned& value);
    bool only_zeros_left(const std::uint8_t* data) const;
    bool read_header(const std::uint8_t* sector);
    bool read_difference(const std::uint8_t* data, int type, int& d, int& m);
    void mark_events(const int* positions, int count);
    void end_channel(std::uint8_t type, Step& r);

    std::uint32_t bits_ = 0;
    int nbits_ = 0;
    int pos_ = 0;  // -8..-1 address the carried bytes
    std::array<std::uint8_t, 8> carry_{};
    int state_ = -4;
    int channel_ = 0;
    int nibble_type_ = 0;
    int value_ = 0;
    int last_diff_ = 0;
    bool present_[kMaxChannels] = {true, true, true};
    std::array<std::uint16_t, kBlock> out_[kMaxChannels]{};
    std::array<std::uint16_t, kBlock> flags_{};
    int window_ = 0;
    bool check_position_ = true;
    bool used_up_ = false;
    bool fault_ = false;
    int pending_bit_ = -1;
};

// Bits needed to hold v (0 for v <= 0).
int bits_for(int v);

}  // namespace tv::vond
