#include "tools/szip/szip_format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <lzma.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <new>
#include <thread>

#include "common/bytes.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "tools/szip/word_coder.h"

namespace tv::szip {

namespace {

bool read_file(const std::string& path, std::vector<std::uint8_t>& out) {
    const platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) return false;
    const int fd = file.get();
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        out.resize(static_cast<std::size_t>(st.st_size));
        ok = out.empty() || platform::pread_all(fd, out.data(), out.size(), 0);
        // A file that grew while being read would be cut silently; check it ended where we stopped.
        std::uint8_t extra;
        if (ok && ::pread(fd, &extra, 1, static_cast<off_t>(out.size())) != 0) ok = false;
    }
    return ok;
}

bool write_file(const std::string& path, const std::vector<std::uint8_t>& data) {
    ::unlink(path.c_str());
    platform::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd) return false;
    bool ok = data.empty() || platform::write_all(fd.get(), data.data(), data.size());
    if (!fd.close()) ok = false;
    if (!ok) ::unlink(path.c_str());
    return ok;
}

// Unpacks piece by piece into a new file at `path`, which is removed again when the stream fails.
int unpack_to_file(const std::vector<std::uint8_t>& packed, const std::string& path) {
    ::unlink(path.c_str());
    platform::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd) return kExitOutput;
    bool written = true;
    const bool ok = unpack(packed.data(), packed.size(), [&](const std::uint8_t* data, std::size_t n) {
        written = platform::write_all(fd.get(), data, n);
        return written;
    });
    if (!fd.close()) written = false;
    if (ok && written) return kExitOk;
    ::unlink(path.c_str());
    return written ? kExitCorrupt : kExitOutput;
}

}  // namespace

std::vector<std::uint8_t> to_delta_planes(const std::uint8_t* data, std::size_t size) {
    const std::size_t n = size / 2;
    std::vector<std::uint8_t> out(size);
    std::uint16_t prev = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto w = load_le16(data + 2 * i);
        const auto d = static_cast<std::int16_t>(static_cast<std::uint16_t>(w - prev));
        prev = w;
        const auto z =
            static_cast<std::uint16_t>(static_cast<std::uint16_t>(d) << 1 ^ static_cast<std::uint16_t>(d >> 15));
        out[i] = static_cast<std::uint8_t>(z);
        out[n + i] = static_cast<std::uint8_t>(z >> 8);
    }
    if (size & 1) out[size - 1] = data[size - 1];
    return out;
}

std::vector<std::uint8_t> from_delta_planes(const std::uint8_t* data, std::size_t size) {
    const std::size_t n = size / 2;
    std::vector<std::uint8_t> out(size);
    std::uint16_t prev = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto z = static_cast<std::uint16_t>(data[i] | data[n + i] << 8);
        const auto d = static_cast<std::uint16_t>((z >> 1) ^ (0u - (z & 1u)));
        prev = static_cast<std::uint16_t>(prev + d);
        store_le16(&out[2 * i], prev);
    }
    if (size & 1) out[size - 1] = data[size - 1];
    return out;
}

std::uint64_t block_size_for(std::uint64_t size) {
    constexpr std::uint64_t kMin = 1u << 20, kMax = 2u << 20, kAlign = 64u << 10;
    const std::uint64_t eighth = (size / 8 + kAlign - 1) / kAlign * kAlign;
    return std::clamp(eighth, kMin, kMax);
}

namespace {

std::uint32_t worker_threads() {
    const unsigned n = std::thread::hardware_concurrency();
    return std::clamp<std::uint32_t>(n == 0 ? 1 : n, 1, 16);
}

// One plane as one xz stream; empty on failure.
std::vector<std::uint8_t> encode_plane(const std::uint8_t* data, std::size_t size, const lzma_options_lzma& options,
                                       std::uint32_t threads) {
    lzma_options_lzma copy = options;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &copy}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_mt mt{};
    mt.threads = threads;
    mt.block_size = block_size_for(size);
    mt.filters = filters;
    mt.check = LZMA_CHECK_NONE;  // the header's CRC covers the result
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_encoder_mt(&stream, &mt) != LZMA_OK) return {};
    std::vector<std::uint8_t> out(lzma_stream_buffer_bound(size));
    stream.next_in = data;
    stream.avail_in = size;
    stream.next_out = out.data();
    stream.avail_out = out.size();
    const lzma_ret r = lzma_code(&stream, LZMA_FINISH);
    const std::uint64_t written = stream.total_out;
    lzma_end(&stream);
    if (r != LZMA_STREAM_END) return {};
    out.resize(static_cast<std::size_t>(written));
    return out;
}

// Memory a plane's decoder may take: our own streams need a few MiB (1 MiB dictionaries, blocks
// of at most 2 MiB), so a stream asking for more is not ours; threads are given up before that.
constexpr std::uint64_t kDecoderThreadingMemory = 32u << 20;
constexpr std::uint64_t kDecoderMemoryLimit = 32u << 20;

// One plane's xz stream, read front to back in pieces.
class PlaneReader {
public:
    PlaneReader(const std::uint8_t* in, std::size_t in_size, std::uint32_t threads) : in_size_(in_size) {
        lzma_mt mt{};
        mt.threads = threads;
        mt.memlimit_threading = kDecoderThreadingMemory;
        mt.memlimit_stop = kDecoderMemoryLimit;
        ok_ = lzma_stream_decoder_mt(&stream_, &mt) == LZMA_OK;
        stream_.next_in = in;
        stream_.avail_in = in_size;
    }
    ~PlaneReader() { lzma_end(&stream_); }
    PlaneReader(const PlaneReader&) = delete;
    PlaneReader& operator=(const PlaneReader&) = delete;

    // The next `n` bytes of the plane; false when the stream fails or ends before them.
    bool read(std::uint8_t* out, std::size_t n) { return decode(out, n) && stream_.avail_out == 0; }

    // True when the stream ends here, having used all of its input: one spare byte asked for must
    // not come.
    bool at_end() {
        std::uint8_t spare = 0;
        return decode(&spare, 1) && stream_.avail_out == 1 && ended_ && stream_.total_in == in_size_;
    }

private:
    // Decodes into [out, out + n) until that is full or the stream has ended; false on an error.
    bool decode(std::uint8_t* out, std::size_t n) {
        stream_.next_out = out;
        stream_.avail_out = n;
        while (ok_ && !ended_ && stream_.avail_out > 0) {
            const lzma_ret r = lzma_code(&stream_, LZMA_FINISH);
            if (r == LZMA_STREAM_END)
                ended_ = true;
            else if (r != LZMA_OK)
                ok_ = false;
        }
        return ok_;
    }

    lzma_stream stream_ = LZMA_STREAM_INIT;
    std::size_t in_size_;
    bool ok_ = false, ended_ = false;
};

// Runs `side` on a thread of its own while `main` runs here; when no thread can be had, one after
// the other. Neither may throw.
template <typename Main, typename Side>
void run_both(Main&& main, Side&& side) {
    std::thread t;
    try {
        t = std::thread(side);
    } catch (...) {
        side();
    }
    main();
    if (t.joinable()) t.join();
}

// Runs job(i) for i in [0, count) on up to `threads` threads; false when any job failed or a thread
// could not be had and the work could not be finished here.
template <typename Job>
bool run_blocks(std::size_t count, std::uint32_t threads, Job&& job) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> ok{true};
    auto worker = [&] {
        for (std::size_t i; ok.load(std::memory_order_relaxed) && (i = next.fetch_add(1)) < count;) {
            bool done = false;
            try {
                done = job(i);
            } catch (const std::bad_alloc&) {}
            if (!done) ok = false;
        }
    };
    std::vector<std::thread> pool;
    const std::size_t extra = std::min<std::size_t>(threads, count) > 0 ? std::min<std::size_t>(threads, count) - 1 : 0;
    for (std::size_t t = 0; t < extra; ++t) {
        try {
            pool.emplace_back(worker);
        } catch (...) {
            break;  // the threads we have (at least this one) finish the work
        }
    }
    worker();
    for (auto& t : pool) t.join();
    return ok;
}

std::size_t word_block_count(std::uint64_t size) {
    const std::uint64_t words = size / 2;
    return static_cast<std::size_t>((words + kWordsPerBlock - 1) / kWordsPerBlock);
}

void put_header(std::vector<std::uint8_t>& out, std::uint8_t method, const std::vector<std::uint8_t>& input) {
    std::memcpy(out.data(), "TVSZ", 4);
    out[4] = kFormat;
    out[5] = method;
    store_le64(&out[6], input.size());
    store_le32(&out[14], tv::crc32(input.data(), input.size()));
}

// Method 3; empty on failure.
std::vector<std::uint8_t> pack_words(const std::vector<std::uint8_t>& input) {
    const std::size_t words = input.size() / 2;
    const std::size_t blocks = word_block_count(input.size());
    std::vector<std::vector<std::uint8_t>> coded(blocks);
    const bool ok = run_blocks(blocks, worker_threads(), [&](std::size_t i) {
        const std::size_t first = i * kWordsPerBlock;
        coded[i] = encode_word_block(input.data() + 2 * first, std::min(kWordsPerBlock, words - first));
        return coded[i].size() <= 0xFFFFFFFFu;
    });
    if (!ok) return {};
    std::size_t total = kHeaderSize + 4 * blocks + (input.size() & 1);
    for (const auto& c : coded) total += c.size();
    std::vector<std::uint8_t> out(total);
    put_header(out, kMethodWords, input);
    std::uint8_t* p = out.data() + kHeaderSize;
    for (const auto& c : coded) {
        store_le32(p, static_cast<std::uint32_t>(c.size()));
        p += 4;
    }
    for (const auto& c : coded) {
        if (!c.empty()) std::memcpy(p, c.data(), c.size());
        p += c.size();
    }
    if (input.size() & 1) *p = input.back();
    return out;
}

bool unpack_words(const std::uint8_t* packed, std::size_t packed_size, std::uint64_t size, const Sink& sink) {
    const std::size_t body = packed_size - kHeaderSize;
    // A word costs at least a fiftieth of a bit; a larger claim is not ours.
    if (size > static_cast<std::uint64_t>(body) * 1024) return false;
    const std::size_t blocks = word_block_count(size);
    if (blocks > body / 4) return false;
    const std::uint8_t* table = packed + kHeaderSize;
    std::vector<std::size_t> offsets(blocks + 1);
    std::uint64_t at = 4 * static_cast<std::uint64_t>(blocks);
    for (std::size_t i = 0; i < blocks; ++i) {
        offsets[i] = static_cast<std::size_t>(at);
        at += load_le32(table + 4 * i);
        if (at > body) return false;
    }
    offsets[blocks] = static_cast<std::size_t>(at);
    if (at + (size & 1) != body) return false;
    // As many blocks at a time as there are threads; each goes to the sink as soon as its batch
    // is done.
    const std::uint64_t words = size / 2;
    const std::size_t batch = std::min<std::size_t>(worker_threads(), std::max<std::size_t>(blocks, 1));
    std::vector<std::uint8_t> buffer(2 * std::min<std::uint64_t>(words, batch * kWordsPerBlock));
    for (std::size_t first_block = 0; first_block < blocks; first_block += batch) {
        const std::size_t count = std::min(batch, blocks - first_block);
        auto block_words = [&](std::size_t b) {
            return static_cast<std::size_t>(std::min<std::uint64_t>(kWordsPerBlock, words - b * kWordsPerBlock));
        };
        const bool ok = run_blocks(count, worker_threads(), [&](std::size_t i) {
            const std::size_t b = first_block + i;
            return decode_word_block(table + offsets[b], offsets[b + 1] - offsets[b],
                                     buffer.data() + 2 * i * kWordsPerBlock, block_words(b));
        });
        if (!ok) return false;
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < count; ++i) bytes += 2 * block_words(first_block + i);
        if (!sink(buffer.data(), bytes)) return false;
    }
    if (size & 1) return sink(packed + packed_size - 1, 1);
    return true;
}

// Method 2; empty on failure.
std::vector<std::uint8_t> pack_planes(const std::vector<std::uint8_t>& input) {
    try {
        const std::vector<std::uint8_t> planes = to_delta_planes(input.data(), input.size());
        const std::size_t low_size = planes.size() / 2;
        // Low bytes: preset 4 with a longer match length, a 1 MiB window (beats repeat within a
        // few hundred bytes) and literals in the context of the previous byte's high bits. The match
        // length is where time and size trade: 24 measured on ECG channel files 1.4 times as fast
        // as 48 for 3 % more bytes; 16 is faster again but packs looser than "xz -6".
        lzma_options_lzma low;
        if (lzma_lzma_preset(&low, 4)) return {};
        low.dict_size = 1u << 20;
        low.nice_len = 24;
        low.lc = 4;
        low.lp = 0;
        low.pb = 0;
        // High bytes: nearly all zero; the quick search finds the long runs as well as a deep one.
        lzma_options_lzma high;
        if (lzma_lzma_preset(&high, 1)) return {};
        high.dict_size = 1u << 20;
        std::vector<std::uint8_t> low_stream, high_stream;
        bool low_ok = false, high_ok = false;
        run_both(
            [&] {
                try {
                    low_stream = encode_plane(planes.data(), low_size, low, worker_threads());
                    low_ok = !low_stream.empty();
                } catch (const std::bad_alloc&) {}
            },
            [&] {
                try {
                    high_stream = encode_plane(planes.data() + low_size, planes.size() - low_size, high, 1);
                    high_ok = !high_stream.empty();
                } catch (const std::bad_alloc&) {}
            });
        if (!low_ok || !high_ok) return {};
        std::vector<std::uint8_t> out(kHeaderSize + kPlaneLengthSize + low_stream.size() + high_stream.size());
        put_header(out, kMethodDeltaPlanesXz, input);
        store_le64(&out[kHeaderSize], low_stream.size());
        std::uint8_t* p = out.data() + kHeaderSize + kPlaneLengthSize;
        std::memcpy(p, low_stream.data(), low_stream.size());
        std::memcpy(p + low_stream.size(), high_stream.data(), high_stream.size());
        return out;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool unpack_planes(const std::uint8_t* packed, std::size_t packed_size, std::uint64_t size, const Sink& sink) {
    if (packed_size < kHeaderSize + kPlaneLengthSize) return false;
    const std::uint64_t low_stream_size = load_le64(packed + kHeaderSize);
    const std::size_t body_size = packed_size - kHeaderSize - kPlaneLengthSize;
    if (low_stream_size > body_size) return false;
    // LZMA2 cannot expand beyond a few thousand to one; a larger claim is not ours.
    if (size > static_cast<std::uint64_t>(body_size) * 8192) return false;
    const std::uint8_t* body = packed + kHeaderSize + kPlaneLengthSize;
    const auto low_in = static_cast<std::size_t>(low_stream_size);
    PlaneReader low(body, low_in, worker_threads());
    PlaneReader high(body + low_in, body_size - low_in, 1);
    // Both planes a slice at a time, the words put back together as they come.
    constexpr std::size_t kSliceWords = 1u << 20;
    const std::uint64_t words = size / 2;
    const auto slice = static_cast<std::size_t>(std::min<std::uint64_t>(words, kSliceWords));
    std::vector<std::uint8_t> low_bytes(slice), high_bytes(slice), out(2 * slice);
    std::uint16_t prev = 0;
    for (std::uint64_t done = 0; done < words;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(slice, words - done));
        if (!low.read(low_bytes.data(), n) || !high.read(high_bytes.data(), n)) return false;
        for (std::size_t i = 0; i < n; ++i) {
            const auto z = static_cast<std::uint16_t>(low_bytes[i] | high_bytes[i] << 8);
            const auto d = static_cast<std::uint16_t>((z >> 1) ^ (0u - (z & 1u)));
            prev = static_cast<std::uint16_t>(prev + d);
            store_le16(&out[2 * i], prev);
        }
        if (!sink(out.data(), 2 * n)) return false;
        done += n;
    }
    if (size & 1) {
        // The odd last byte ends the high plane as it is.
        std::uint8_t last = 0;
        if (!high.read(&last, 1) || !sink(&last, 1)) return false;
    }
    return low.at_end() && high.at_end();
}

}  // namespace

std::vector<std::uint8_t> pack(const std::vector<std::uint8_t>& input) {
    try {
        // Sample files take the word coder; anything it does not pack to a quarter (text, odd
        // layouts) goes the dictionary way.
        if (input.size() >= 2) {
            std::vector<std::uint8_t> words = pack_words(input);
            if (!words.empty() && words.size() <= input.size() / 4) return words;
        }
        return pack_planes(input);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool unpack(const std::uint8_t* packed, std::size_t packed_size, const Sink& sink) {
    if (packed_size < kHeaderSize || std::memcmp(packed, "TVSZ", 4) != 0 || packed[4] != kFormat) return false;
    const std::uint64_t size = load_le64(packed + 6);
    const std::uint32_t crc = load_le32(packed + 14);
    std::uint64_t given = 0;
    std::uint32_t reg = kCrc32Start;
    const Sink checked = [&](const std::uint8_t* data, std::size_t n) {
        given += n;
        reg = crc32_update(reg, data, n);
        return given <= size && sink(data, n);
    };
    bool ok = false;
    try {
        if (packed[5] == kMethodDeltaPlanesXz)
            ok = unpack_planes(packed, packed_size, size, checked);
        else if (packed[5] == kMethodWords)
            ok = unpack_words(packed, packed_size, size, checked);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return ok && given == size && ~reg == crc;
}

bool unpack(const std::vector<std::uint8_t>& packed, std::vector<std::uint8_t>& output) {
    std::vector<std::uint8_t> out;
    try {
        const bool ok = unpack(packed.data(), packed.size(), [&out](const std::uint8_t* data, std::size_t n) {
            out.insert(out.end(), data, data + n);
            return true;
        });
        if (!ok) return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    output = std::move(out);
    return true;
}

int run(int argc, char** argv) {
    if (argc != 4) return kExitUsage;
    const std::string sw = argv[1];
    bool decompress;
    if (sw == "-d" || sw == "-D")
        decompress = true;
    else if (sw.size() >= 2 && sw[0] == '-' && (sw[1] == 'o' || sw[1] == 'O'))
        decompress = false;
    else
        return kExitUsage;
    std::vector<std::uint8_t> input;
    if (!read_file(argv[2], input)) return kExitInput;
    if (decompress) return unpack_to_file(input, argv[3]);
    const std::vector<std::uint8_t> output = pack(input);
    if (output.empty()) return kExitOutput;
    return write_file(argv[3], output) ? kExitOk : kExitOutput;
}

}  // namespace tv::szip
