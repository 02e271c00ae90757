#include "source.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace xfile::detail {

namespace {
constexpr size_t kMaxBlock = 32768;
// A pulled body's window: read a chunk at a time into memory that stays in the cache.
constexpr size_t kPullChunk = 256 << 10;

uint16_t rd16(const uint8_t* q) {
    return uint16_t(q[0] | (q[1] << 8));
}
uint32_t rd32(const uint8_t* q) {
    return uint32_t(q[0]) | (uint32_t(q[1]) << 8) | (uint32_t(q[2]) << 16) | (uint32_t(q[3]) << 24);
}
} // namespace

struct Source::Z {
    z_stream s{};
    bool init = false;
    ~Z() {
        if (init) inflateEnd(&s);
    }
};

Source::Source(const uint8_t* body, size_t size) {
    p = base_ = reinterpret_cast<const char*>(body);
    e = p + size;
    eof = true;
}

Source::Source(const uint8_t* data, size_t size, size_t max_inflated, size_t max_window)
    : max_inflated_(max_inflated), max_window_(max_window), zin_(data), zend_(data + size),
      zsize_(size), z_(std::make_unique<Z>()) {
    eof = false;
}

Source::Source(Input& in, size_t size) : declared_(size), in_(&in) {
    buf_.resize(kPullChunk + 64);
    p = e = base_ = buf_.data();
    eof = size == 0;
}

Source::~Source() = default;

bool Source::open(std::string& error) {
    if (!zin_) return true;
    if (zend_ - zin_ < 4) {
        error = "compressed file too short for its size field";
        return false;
    }
    uint32_t total = rd32(zin_);
    zin_ += 4;
    if (total < 16) {
        error = "compressed size field " + std::to_string(total) + " smaller than the header";
        return false;
    }
    declared_ = total - 16;
    if (declared_ > max_inflated_) {
        error = "compressed file declares " + std::to_string(declared_) +
                " bytes, more than the limit of " + std::to_string(max_inflated_);
        return false;
    }
    if (inflateInit2(&z_->s, -15) != Z_OK) {
        error = "can't initialise the decompressor";
        return false;
    }
    z_->init = true;
    buf_.resize(std::min(declared_, 2 * kMaxBlock) + 64);
    dict_.reserve(kMaxBlock);
    p = e = base_ = buf_.data();
    eof = declared_ == 0;
    return true;
}

size_t Source::reserve_cap(size_t count) const {
    if (!zin_) return count;
    return std::min(count, zsize_ * 8 + 4096);
}

bool Source::refill(size_t n, std::string& error) {
    if (eof || size_t(e - p) >= n) return true;
    if (in_)
        n = std::min(n, remaining_bound()); // no window wider than the body
    else if (n > max_window_)
        n = max_window_;
    size_t keep = size_t(e - p);
    consumed_ += size_t(p - base_);
    // A block is inflated whole; a pull reads what fits.
    if (buf_.size() < n + (in_ ? 64 : kMaxBlock)) {
        std::vector<char> bigger(n + (in_ ? kPullChunk : kMaxBlock) + 64);
        std::memcpy(bigger.data(), p, keep);
        buf_.swap(bigger);
    } else if (keep && p != buf_.data()) {
        std::memmove(buf_.data(), p, keep);
    }
    p = base_ = buf_.data();
    e = p + keep;
    if (in_) {
        while (!eof && size_t(e - p) < n)
            pull();
        return true;
    }
    while (!eof && size_t(e - p) < n) {
        if (!inflate_block(error)) return false;
    }
    return true;
}

// Reads what fits in the window; an input that ends early ends the body there.
void Source::pull() {
    const size_t room = std::min(size_t(buf_.data() + buf_.size() - 64 - e), declared_ - produced_);
    const size_t got = in_->read(reinterpret_cast<uint8_t*>(const_cast<char*>(e)), room);
    if (got == 0 || got > room) {
        declared_ = produced_;
        eof = true;
        return;
    }
    e += got;
    produced_ += got;
    if (produced_ == declared_) eof = true;
}

bool Source::inflate_block(std::string& error) {
    if (zend_ - zin_ < 6) {
        error = "compressed data ends after " + std::to_string(produced_) + " of " +
                std::to_string(declared_) + " bytes";
        return false;
    }
    size_t usize = rd16(zin_);
    size_t csize = rd16(zin_ + 2);
    if (csize < 2 || zin_[4] != 'C' || zin_[5] != 'K') {
        error = "compressed block without its CK signature";
        return false;
    }
    if (usize > kMaxBlock) {
        error = "compressed block of " + std::to_string(usize) + " bytes, more than 32768";
        return false;
    }
    if (size_t(zend_ - zin_ - 4) < csize) {
        error = "compressed block runs past the end of the file";
        return false;
    }
    if (usize > declared_ - produced_) {
        error = "compressed data larger than its declared size";
        return false;
    }
    z_stream& s = z_->s;
    if (inflateReset(&s) != Z_OK ||
        (!dict_.empty() && inflateSetDictionary(&s, reinterpret_cast<const Bytef*>(dict_.data()),
                                                uInt(dict_.size())) != Z_OK)) {
        error = "can't prime the decompressor";
        return false;
    }
    char* out = const_cast<char*>(e);
    s.next_in = const_cast<Bytef*>(zin_ + 6);
    s.avail_in = uInt(csize - 2);
    s.next_out = reinterpret_cast<Bytef*>(out);
    s.avail_out = uInt(usize);
    int rc = usize ? inflate(&s, Z_FINISH) : Z_STREAM_END;
    // A block ends its deflate stream; one flushed without the final marker is accepted when it
    // filled exactly the declared size.
    bool ok = rc == Z_STREAM_END ||
              ((rc == Z_OK || rc == Z_BUF_ERROR) && s.avail_out == 0 && s.avail_in == 0);
    if (!ok || s.avail_out != 0) {
        error = "corrupt compressed block at byte " + std::to_string(zin_ - (zend_ - zsize_) + 16);
        return false;
    }
    dict_.assign(out, out + usize);
    zin_ += 4 + csize;
    produced_ += usize;
    e += usize;
    if (produced_ == declared_) eof = true;
    return true;
}

} // namespace xfile::detail
