#include "viewers/ByteRows.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>

#include "platform/Errors.h"
#include "platform/Text.h"

namespace vorlr {

namespace {

uint8_t lowerByte(uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b + 32) : b; }

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

ByteBlocks::ByteBlocks(std::unique_ptr<ByteSource> source, int64_t held, size_t blockSize,
                       size_t keep)
    : source_(std::move(source)), blockSize_(std::max<size_t>(blockSize, 1)),
      blocks_(std::max<size_t>(keep, 1)) {
    if (!source_) return;
    base_ = source_->position();
    size_ = std::max<int64_t>(held, 0);
}

size_t ByteBlocks::fetch(int64_t offset, uint8_t* out, size_t n) {
    ++sourceReads_;
    size_t got = 0;
    try {
        source_->seek(base_ + offset);
        got = static_cast<size_t>(std::max<int64_t>(source_->readCounted(out, static_cast<int64_t>(n)), 0));
    } catch (const std::exception& e) {
        cutReason_ = e.what();
        size_ = offset;
        return 0;
    }
    if (got < n) {
        cutReason_ = "the file ends sooner";
        size_ = offset + static_cast<int64_t>(got);
    }
    return got;
}

const ByteBlocks::Block* ByteBlocks::block(int64_t index) {
    if (blocks_.empty()) return nullptr;
    Block* oldest = &blocks_.front();
    for (Block& b : blocks_) {
        if (b.index == index) {
            b.used = ++clock_;
            return &b;
        }
        if (b.used < oldest->used) oldest = &b;
    }
    const int64_t start = index * static_cast<int64_t>(blockSize_);
    if (start >= size_) return nullptr;
    const auto n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(blockSize_), size_ - start));
    oldest->index = -1;
    oldest->bytes.resize(n);
    oldest->bytes.resize(fetch(start, oldest->bytes.data(), n));
    if (oldest->bytes.empty()) return nullptr;
    oldest->index = index;
    oldest->used = ++clock_;
    return oldest;
}

size_t ByteBlocks::read(int64_t offset, uint8_t* out, size_t n) {
    size_t done = 0;
    while (done < n && offset >= 0 && offset < size_) {
        const auto bs = static_cast<int64_t>(blockSize_);
        const Block* b = block(offset / bs);
        if (!b) break;
        const auto at = static_cast<size_t>(offset % bs);
        if (at >= b->bytes.size()) break;
        const size_t k = std::min(n - done, b->bytes.size() - at);
        std::memcpy(out + done, b->bytes.data() + at, k);
        done += k;
        offset += static_cast<int64_t>(k);
    }
    return done;
}

size_t ByteBlocks::readThrough(int64_t offset, uint8_t* out, size_t n) {
    if (offset < 0 || offset >= size_) return 0;
    n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), size_ - offset));
    return fetch(offset, out, n);
}

ColumnHit ByteAtColumn(int column) {
    if (column >= kCharColumn) return {std::min(column - kCharColumn, kBytesPerRow - 1), true};
    const int c = column - kHexColumn;
    if (c < 0) return {0, false};
    const int half = 3 * (kBytesPerRow / 2);
    const int k = c < half ? c / 3 : c == half ? kBytesPerRow / 2 - 1 : (c - 1) / 3;
    return {std::min(k, kBytesPerRow - 1), false};
}

std::string OffsetText(int64_t offset) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%08llX", static_cast<unsigned long long>(offset));
    return buf;
}

char16_t ShownCharacter(uint8_t b) {
    if (b < 0x20 || b == 0x7F || b == 0xAD || !cp1252Defines(b)) return u'.';
    return cp1252CodePoint(b);
}

QString RowText(int64_t offset, const uint8_t* bytes, int n) {
    QString row(kRowColumns, QLatin1Char(' '));
    QChar* d = row.data();
    const std::string at = OffsetText(offset);
    for (size_t i = 0; i < at.size() && i < static_cast<size_t>(kHexColumn); ++i)
        d[i] = QLatin1Char(at[i]);
    n = std::clamp(n, 0, kBytesPerRow);
    for (int k = 0; k < n; ++k) {
        d[HexColumnOf(k)] = QLatin1Char(kHexDigits[bytes[k] >> 4]);
        d[HexColumnOf(k) + 1] = QLatin1Char(kHexDigits[bytes[k] & 15]);
        d[CharColumnOf(k)] = QChar(ShownCharacter(bytes[k]));
    }
    return row;
}

QString SelectionText(ByteBlocks& bytes, int64_t begin, int64_t end, CopyAs as) {
    begin = std::max<int64_t>(begin, 0);
    end = std::min(end, bytes.size());
    if (end <= begin) return {};
    if (end - begin > kCopyLimit)
        throw Error("The selection is too large to copy: " + std::to_string(end - begin) +
                    " bytes, at most " + std::to_string(kCopyLimit));
    const int64_t n = end - begin;
    QString out;
    out.reserve(static_cast<qsizetype>(as == CopyAs::Hex ? n * 3 : n));
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(n, int64_t{1} << 16)));
    for (int64_t at = begin; at < end;) {
        const size_t got = bytes.read(at, chunk.data(), static_cast<size_t>(std::min<int64_t>(end - at, static_cast<int64_t>(chunk.size()))));
        if (got == 0) break;  // the bytes ended sooner
        for (size_t i = 0; i < got; ++i) {
            const uint8_t b = chunk[i];
            if (as == CopyAs::Hex) {
                if (!out.isEmpty()) out += QLatin1Char(' ');
                out += QLatin1Char(kHexDigits[b >> 4]);
                out += QLatin1Char(kHexDigits[b & 15]);
            } else {
                out += (b == '\t' || b == '\n' || b == '\r') ? QChar(b) : QChar(ShownCharacter(b));
            }
        }
        at += static_cast<int64_t>(got);
    }
    return out;
}

std::optional<std::string> ParseHexBytes(std::string_view text) {
    std::string out;
    int high = -1;
    for (const char c : text) {
        if (c == ' ' || c == '\t') continue;
        const int d = hexDigit(c);
        if (d < 0) return std::nullopt;
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<char>(high * 16 + d));
            high = -1;
        }
    }
    if (high >= 0 || out.empty()) return std::nullopt;
    return out;
}

std::optional<GoTo> ParseGoTo(std::string_view text, int64_t size) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    int base = 16;
    if (!text.empty() && text.front() == '#') {
        base = 10;
        text.remove_prefix(1);
    } else if (!text.empty() && text.front() == '$') {
        text.remove_prefix(1);
    } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    for (const char c : text) {
        const int d = hexDigit(c);
        if (d < 0 || d >= base) return std::nullopt;
        value = value > (kMax - d) / base ? kMax : value * base + d;  // saturates: past the end
    }
    if (value >= size) return GoTo{std::max<int64_t>(size - 1, 0), true};
    return GoTo{value, false};
}

ByteSearch::ByteSearch(ByteBlocks& bytes, std::string pattern, bool ignoreCase, int64_t chunk)
    : bytes_(bytes), pattern_(std::move(pattern)), ignoreCase_(ignoreCase),
      chunk_(std::max<int64_t>(chunk, 1)) {
    if (ignoreCase_)
        for (char& c : pattern_) c = static_cast<char>(lowerByte(static_cast<uint8_t>(c)));
}

void ByteSearch::start(int64_t from, bool forward) {
    forward_ = forward;
    match_.reset();
    wrapped_ = false;
    leg_ = 0;
    looked_ = 0;
    const auto m = static_cast<int64_t>(pattern_.size());
    const int64_t last = bytes_.size() - m;  // the last match start there is room for
    done_ = m == 0 || last < 0;
    if (done_) {
        legs_[0] = legs_[1] = Leg{};
        total_ = 0;
        return;
    }
    from = std::clamp<int64_t>(from, -1, last + 1);
    if (forward) {
        legs_[0] = {std::max<int64_t>(from + 1, 0), last};
        legs_[1] = {0, std::min(from, last)};
    } else {
        legs_[0] = {0, std::min(from - 1, last)};
        legs_[1] = {std::max<int64_t>(from, 0), last};
    }
    total_ = 0;
    for (const Leg& l : legs_) total_ += std::max<int64_t>(l.hi - l.lo + 1, 0);
}

bool ByteSearch::run(int64_t budget) {
    while (!done_ && budget > 0) {
        const int64_t before = looked_;
        if (scanChunk()) done_ = true;
        budget -= std::max<int64_t>(looked_ - before, 1);
    }
    return done_;
}

// One piece of the current leg; true when the search has ended (a match, or nothing left).
bool ByteSearch::scanChunk() {
    while (leg_ < 2 && legs_[leg_].lo > legs_[leg_].hi) ++leg_;
    if (leg_ == 2) return true;
    Leg& leg = legs_[leg_];
    const auto m = static_cast<int64_t>(pattern_.size());
    const int64_t s = forward_ ? leg.lo : std::max(leg.lo, leg.hi - chunk_ + 1);
    const int64_t e = forward_ ? std::min(leg.hi, leg.lo + chunk_ - 1) : leg.hi;
    // The starts s..e and the bytes the last of them needs: a match across the piece's end is
    // found in this piece, never split.
    buffer_.resize(static_cast<size_t>(e - s + m));
    const size_t got = bytes_.readThrough(s, buffer_.data(), buffer_.size());
    buffer_.resize(got);
    if (ignoreCase_)
        for (uint8_t& b : buffer_) b = lowerByte(b);
    const auto* p = reinterpret_cast<const uint8_t*>(pattern_.data());
    std::optional<int64_t> at;
    if (forward_) {
        const std::boyer_moore_horspool_searcher searcher(p, p + m);
        const auto found = searcher(buffer_.begin(), buffer_.end()).first;
        if (found != buffer_.end()) at = s + (found - buffer_.begin());
    } else {
        const auto rp = std::make_reverse_iterator(p + m);
        const std::boyer_moore_horspool_searcher searcher(rp, std::make_reverse_iterator(p));
        const auto found = searcher(buffer_.rbegin(), buffer_.rend());
        if (found.first != buffer_.rend()) at = s + (buffer_.rend() - found.second);
    }
    looked_ += e - s + 1;
    if (at) {
        match_ = at;
        wrapped_ = leg_ == 1;
        return true;
    }
    if (forward_)
        leg.lo = e + 1;
    else
        leg.hi = s - 1;
    return false;
}

double ByteSearch::progress() const {
    return total_ > 0 ? static_cast<double>(looked_) / static_cast<double>(total_) : 1.0;
}

}  // namespace vorlr
