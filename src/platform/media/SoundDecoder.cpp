#include "platform/media/SoundDecoder.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/LittleEndian.h"
#include "platform/sndfile/SndfileIo.h"
#include "platform/Text.h"

namespace vorlr {
namespace {

// The bytes a decoder reads: a file, read at offsets so that a second reader (the frame count)
// can share it, or a copy held in memory. Four bytes may be replaced (a corrected WAV size).
struct SoundBytes {
    int fd = -1;
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    int64_t size = 0;
    int64_t patchAt = -1;
    uint8_t patch[4] = {};

    SoundBytes() = default;
    SoundBytes(const SoundBytes&) = delete;
    SoundBytes& operator=(SoundBytes&& o) noexcept {
        std::swap(fd, o.fd);
        std::swap(bytes, o.bytes);
        std::swap(size, o.size);
        std::swap(patchAt, o.patchAt);
        std::swap(patch, o.patch);
        return *this;
    }
    ~SoundBytes() {
        if (fd >= 0) ::close(fd);
    }

    // Up to n bytes at pos: the count read, 0 at the end, -1 on an error.
    int64_t readAt(int64_t pos, void* out, int64_t n) const {
        if (pos < 0 || n < 0) return -1;
        if (pos >= size || n == 0) return 0;
        n = std::min(n, size - pos);
        auto* dst = static_cast<uint8_t*>(out);
        int64_t got = 0;
        if (fd >= 0) {
            while (got < n) {
                const ssize_t r = ::pread(fd, dst + got, static_cast<size_t>(n - got), pos + got);
                if (r < 0 && errno == EINTR) continue;
                if (r < 0) return got > 0 ? got : -1;
                if (r == 0) break;
                got += r;
            }
        } else {
            std::memcpy(dst, bytes->data() + pos, static_cast<size_t>(n));
            got = n;
        }
        for (int i = 0; i < 4 && patchAt >= 0; ++i)
            if (patchAt + i >= pos && patchAt + i < pos + got) dst[patchAt + i - pos] = patch[i];
        return got;
    }

    // The same bytes through a descriptor of its own; false when none can be had.
    bool shareInto(SoundBytes& other) const {
        if (fd >= 0) {
            other.fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
            if (other.fd < 0) return false;
        }
        other.bytes = bytes;
        other.size = size;
        other.patchAt = patchAt;
        std::memcpy(other.patch, patch, sizeof patch);
        return true;
    }
};

void initMpg123() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

// Four printable characters and a size that fits: the start of another chunk.
bool looksLikeChunk(const uint8_t* c, int64_t room) {
    for (int i = 0; i < 4; ++i)
        if (c[i] < 0x20 || c[i] > 0x7E) return false;
    return leU32(c + 4) <= room;
}

// A WAV data chunk that claims less than the file holds while no chunk follows its end (a size
// never written, or written too small): the sound runs to the end of the file. Gives the
// position of the size field and the size to read there; false to keep the header as it is.
// (libsndfile itself cuts a size that is too large down to the file.)
bool wavDataRunsToTheEnd(const SoundBytes& src, int64_t& fieldAt, uint32_t& size) {
    uint8_t head[12];
    if (src.readAt(0, head, 12) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return false;
    int64_t pos = 12;
    for (int chunks = 0; chunks < 4096 && pos <= src.size - 8; ++chunks) {
        uint8_t c[8];
        if (src.readAt(pos, c, 8) != 8) return false;
        const int64_t declared = leU32(c + 4);
        if (std::memcmp(c, "data", 4) != 0) {
            pos += 8 + declared + (declared & 1);
            continue;
        }
        const int64_t start = pos + 8, there = src.size - start;
        if (declared >= there) return false;
        const int64_t after = start + declared + (declared & 1);
        uint8_t next[8];
        if (src.size - after < 8 || src.readAt(after, next, 8) != 8) return false;
        if (looksLikeChunk(next, src.size - after - 8)) return false;
        fieldAt = pos + 4;
        size = static_cast<uint32_t>(std::min<int64_t>(there, UINT32_MAX));
        return true;
    }
    return false;
}

}  // namespace

// An MP3 decoder of libmpg123 with the bytes it reads.
struct SoundDecoder::PendingCount::Reader {
    SoundBytes source;
    int64_t pos = 0;
    const std::atomic<bool>* cancelled = nullptr;
    mpg123_handle* mh = nullptr;
    long rate = 0;
    int channels = 0;
    Reader() = default;
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    ~Reader() {
        if (mh) {
            mpg123_close(mh);
            mpg123_delete(mh);
        }
    }
};

namespace {

using MpegReader = SoundDecoder::PendingCount::Reader;

ssize_t mpegRead(void* handle, void* out, size_t n) {
    auto* r = static_cast<MpegReader*>(handle);
    if (r->cancelled && r->cancelled->load(std::memory_order_relaxed)) return -1;
    const int64_t got =
        r->source.readAt(r->pos, out, static_cast<int64_t>(std::min<size_t>(n, 1 << 30)));
    if (got < 0) return -1;
    r->pos += got;
    return static_cast<ssize_t>(got);
}

off_t mpegSeek(void* handle, off_t offset, int whence) {
    auto* r = static_cast<MpegReader*>(handle);
    const int64_t to = movedPosition(r->pos, r->source.size, offset, whence);
    if (to < 0) return -1;
    r->pos = to;
    return static_cast<off_t>(to);
}

// Opens the reader's bytes as libsndfile sets libmpg123 up (gapless, no resampling, no stitched
// streams), so that the sound and its length are the same, with 16-bit output.
bool openMpeg(MpegReader& r) {
    initMpg123();
    int err = 0;
    r.mh = mpg123_new(nullptr, &err);
    if (!r.mh) return false;
    mpg123_param(r.mh, MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0.);
    mpg123_param(r.mh, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_NO_FRANKENSTEIN | MPG123_QUIET,
                 0.);
    if (mpg123_replace_reader_handle(r.mh, mpegRead, mpegSeek, nullptr) != MPG123_OK) return false;
    if (mpg123_open_handle(r.mh, &r) != MPG123_OK) return false;
    int encoding = 0;
    if (mpg123_getformat(r.mh, &r.rate, &r.channels, &encoding) != MPG123_OK) return false;
    if (r.channels < 1 || r.channels > 2) return false;
    return mpg123_format_none(r.mh) == MPG123_OK &&
           mpg123_format(r.mh, r.rate, r.channels, MPG123_ENC_SIGNED_16) == MPG123_OK;
}

// Decodes up to frames frames; fewer only at the end of the sound (or a format change, which
// ends it too, as it does in libsndfile).
int64_t readMpeg(MpegReader& r, int16_t* out, int64_t frames) {
    const size_t frameBytes = static_cast<size_t>(r.channels) * 2;
    const size_t want = static_cast<size_t>(frames) * frameBytes;
    auto* dst = reinterpret_cast<unsigned char*>(out);
    size_t total = 0;
    for (int idle = 0; total < want && idle < 64;) {
        size_t done = 0;
        const int rc = mpg123_read(r.mh, dst + total, want - total, &done);
        total += done;
        if (done == 0) ++idle;
        if (rc == MPG123_OK) continue;
        if (rc == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            if (mpg123_getformat(r.mh, &rate, &channels, &encoding) == MPG123_OK &&
                rate == r.rate && channels == r.channels && encoding == MPG123_ENC_SIGNED_16)
                continue;
        }
        break;  // MPG123_DONE, or an error: the sound ends here
    }
    return static_cast<int64_t>(total / frameBytes);
}

}  // namespace

struct SoundDecoder::Impl {
    // libsndfile reads the sound's bytes through this.
    struct Stream final : SndfileStream {
        explicit Stream(const SoundBytes& bytes) : bytes(bytes) {}
        int64_t length() const override { return bytes.size; }
        int64_t readAt(int64_t pos, void* out, int64_t n) override { return bytes.readAt(pos, out, n); }
        const SoundBytes& bytes;
    };
    SoundBytes source;
    Stream stream{source};
    SNDFILE* sf = nullptr;
    SF_INFO info{};
    std::unique_ptr<MpegReader> mpeg;
    ~Impl() {
        if (sf) sf_close(sf);
    }
};

SoundDecoder::SoundDecoder() = default;
SoundDecoder::~SoundDecoder() = default;
SoundDecoder::PendingCount::PendingCount() = default;
SoundDecoder::PendingCount::~PendingCount() = default;

bool SoundDecoder::kindForName(const std::string& fileName, Kind& kind) {
    const std::string base = baseNameOf(fileName);
    const auto dot = base.find_last_of('.');
    if (dot == std::string::npos) return false;
    const std::string ext = lowerAZ(base.substr(dot + 1));
    if (ext == "wav") {
        kind = Kind::Wave;
        return true;
    }
    if (ext == "mp3") {
        kind = Kind::Mpeg;
        return true;
    }
    return false;
}

uint32_t SoundDecoder::openFile(const std::string& path, Kind kind,
                                std::unique_ptr<SoundDecoder>& decoder) {
    // Tell a missing or unreadable file apart from one the decoder rejects.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kMediaCannotOpenFile;
    auto impl = std::make_unique<Impl>();
    impl->source.fd = fd;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return kMediaCannotOpenFile;
    impl->source.size = st.st_size;
    return finishOpen(std::move(impl), kind, decoder);
}

uint32_t SoundDecoder::openMemory(const uint8_t* data, size_t size, Kind kind,
                                  std::unique_ptr<SoundDecoder>& decoder) {
    auto impl = std::make_unique<Impl>();
    impl->source.bytes = std::make_shared<const std::vector<uint8_t>>(data, data + size);
    impl->source.size = static_cast<int64_t>(size);
    return finishOpen(std::move(impl), kind, decoder);
}

uint32_t SoundDecoder::finishOpen(std::unique_ptr<Impl> impl, Kind kind,
                                  std::unique_ptr<SoundDecoder>& decoder) {
    const uint32_t bad = kind == Kind::Wave ? kMediaBadWave : kMediaBadMpeg;
    int64_t fieldAt = 0;
    uint32_t dataSize = 0;
    if (kind == Kind::Wave && wavDataRunsToTheEnd(impl->source, fieldAt, dataSize)) {
        impl->source.patchAt = fieldAt;
        putLe32(impl->source.patch, dataSize);
    }
    impl->sf = impl->stream.open(SFM_READ, impl->info);
    if (!impl->sf) return bad;
    // The extension picks the player: a wave file named .mp3 is no MP3, and the other way round.
    const int major = impl->info.format & SF_FORMAT_TYPEMASK;
    const bool fits = kind == Kind::Wave ? (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX)
                                         : major == SF_FORMAT_MPEG;
    if (!fits) return bad;
    const auto supported = [](long channels, long rate) {
        return channels >= 1 && channels <= kMaxFileChannels && rate >= kMinSampleRate &&
               rate <= kMaxSampleRate;
    };
    if (!supported(impl->info.channels, impl->info.samplerate)) return kMediaUnsupportedFormat;
    // No float-to-integer rescaling (SFC_SET_SCALE_FLOAT_INT_READ): it scans the whole file
    // for its peak at open, seconds for a long MP3. Float samples beyond full scale clip.

    std::unique_ptr<SoundDecoder> d(new SoundDecoder());
    if (kind == Kind::Wave) {
        // libsndfile's count for a WAV file is what its data holds (a too-large size is cut).
        d->fileChannels_ = impl->info.channels;
        d->format_.sampleRate = impl->info.samplerate;
        d->frames_ = std::max<sf_count_t>(impl->info.frames, 0);
        d->exact_ = true;
    } else {
        // libsndfile recognised the file; libmpg123 decodes it directly, since libsndfile's reads
        // stop at its frame count, which is only an estimate for a VBR file without a header.
        sf_close(impl->sf);
        impl->sf = nullptr;
        auto reader = std::make_unique<MpegReader>();
        reader->source = std::move(impl->source);
        if (!openMpeg(*reader)) return bad;
        if (!supported(reader->channels, reader->rate)) return kMediaUnsupportedFormat;
        d->fileChannels_ = reader->channels;
        d->format_.sampleRate = static_cast<int>(reader->rate);
        d->frames_ = std::max<int64_t>(mpg123_length(reader->mh), 0);
        // Counted by scanning this very decoder: what a scan finds changes how libmpg123 trims
        // the encoder's delay and padding (for a file cut short), so only the decoder that was
        // scanned delivers exactly the count.
        if (reader->source.size <= kCountAtOpenBytes) {
            if (mpg123_scan(reader->mh) == MPG123_OK && mpg123_length(reader->mh) >= 0) {
                d->frames_ = mpg123_length(reader->mh);
                d->exact_ = true;
            }
        } else {
            std::unique_ptr<PendingCount> count(new PendingCount());
            count->reader_ = std::make_unique<MpegReader>();
            if (reader->source.shareInto(count->reader_->source)) d->pending_ = std::move(count);
        }
        impl->mpeg = std::move(reader);
    }
    d->format_.channels = std::min(d->fileChannels_, 2);
    d->impl_ = std::move(impl);
    decoder = std::move(d);
    return kMediaOk;
}

void SoundDecoder::PendingCount::run() {
    if (ok_ || !reader_) return;
    reader_->cancelled = &cancelled_;
    if (!openMpeg(*reader_) || mpg123_scan(reader_->mh) != MPG123_OK) return;
    const off_t n = mpg123_length(reader_->mh);
    if (n < 0 || cancelled_) return;
    frames_ = n;
    ok_ = true;
}

std::unique_ptr<SoundDecoder::PendingCount> SoundDecoder::takePendingCount() {
    if (exact_) pending_.reset();
    return std::move(pending_);
}

bool SoundDecoder::adoptCount(PendingCount& count) {
    if (!count.ok_ || !count.reader_ || exact_ || !impl_->mpeg) return false;
    MpegReader& r = *count.reader_;
    if (r.rate != format_.sampleRate || r.channels != fileChannels_) return false;
    // The counted decoder goes on from here: its frames are the ones counted.
    const off_t at = mpg123_seek(r.mh, std::min(next_, count.frames_), SEEK_SET);
    if (at < 0) return false;
    r.cancelled = nullptr;
    impl_->mpeg = std::move(count.reader_);
    next_ = at;
    frames_ = count.frames_;
    reached_ = std::min(reached_, frames_);
    exact_ = true;
    runFromKnown_ = true;
    return true;
}

int64_t SoundDecoder::framesToMs(int64_t frames) const {
    const int64_t rate = format_.sampleRate;
    // Split to stay clear of overflow for absurd frame counts.
    const int64_t whole = frames / rate, rest = frames % rate;
    if (whole > INT32_MAX / 1000) return INT32_MAX;
    return std::min<int64_t>(whole * 1000 + rest * 1000 / rate, INT32_MAX);
}

int64_t SoundDecoder::msToFrames(int64_t ms) const {
    // Rounded up, so that framesToMs(msToFrames(ms)) == ms.
    const int64_t rate = format_.sampleRate;
    const int64_t whole = ms / 1000, rest = ms % 1000;
    if (whole > INT64_MAX / rate / 2) return frames();
    return std::min(frames(), whole * rate + (rest * rate + 999) / 1000);
}

int64_t SoundDecoder::lengthMs() const { return framesToMs(frames()); }

int64_t SoundDecoder::read(int16_t* out, int64_t maxFrames) {
    if (maxFrames <= 0) return 0;
    int64_t got = 0;
    if (impl_->mpeg) {
        got = readMpeg(*impl_->mpeg, out, maxFrames);
    } else if (fileChannels_ <= 2) {
        got = sf_readf_short(impl_->sf, out, maxFrames);
    } else {
        // Only the first two channels (front left and right) are played.
        const auto need = static_cast<size_t>(maxFrames) * static_cast<size_t>(fileChannels_);
        if (scratch_.size() < need) scratch_.resize(need);
        got = sf_readf_short(impl_->sf, scratch_.data(), maxFrames);
        for (sf_count_t i = 0; i < got; ++i) {
            out[2 * i] = scratch_[static_cast<size_t>(i * fileChannels_)];
            out[2 * i + 1] = scratch_[static_cast<size_t>(i * fileChannels_ + 1)];
        }
    }
    if (got <= 0) {
        // The real end, unless this run began at a guess beyond what has been read.
        if (runFromKnown_) {
            frames_ = reached_ = next_;
            exact_ = true;
        }
        return 0;
    }
    // Sound came, so the position was inside the sound: the run counts from here on.
    next_ += got;
    runFromKnown_ = true;
    reached_ = std::max(reached_, next_);
    return got;
}

bool SoundDecoder::seekFrame(int64_t frame) {
    frame = std::clamp<int64_t>(frame, 0, frames());
    if (frame == next_) return true;
    if (impl_->mpeg) {
        const off_t at = mpg123_seek(impl_->mpeg->mh, frame, SEEK_SET);
        if (at < 0) return false;
        next_ = at;
    } else {
        if (sf_seek(impl_->sf, frame, SEEK_SET) < 0) return false;
        next_ = frame;
    }
    runFromKnown_ = exact_ || next_ <= reached_;
    return true;
}

}  // namespace vorlr
