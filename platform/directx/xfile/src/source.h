// The body of a .x file as a window of contiguous bytes [p, e). An uncompressed body in memory
// is the whole input at once; one pulled from an Input, or a compressed one inflated block by
// block, comes in windows as the lexer asks for more, so a large file never needs its whole
// body in memory (nor fresh memory for it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <xfile/xfile.h>

namespace xfile::detail {

class Source {
  public:
    // Uncompressed body.
    Source(const uint8_t* body, size_t size);
    // MSZIP body: `data` starts at the total-size field after the 16-byte header.
    Source(const uint8_t* data, size_t size, size_t max_inflated, size_t max_window);
    // Uncompressed body of at most `size` bytes, read from `in` a window at a time.
    Source(Input& in, size_t size);
    ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    bool open(std::string& error); // reads the compressed header; no-op for plain bodies

    const char* p = nullptr; // next unread byte
    const char* e = nullptr; // end of the bytes available now
    bool eof = true;         // nothing follows e

    // Makes at least n bytes available from p unless the body ends sooner. Moves the window:
    // pointers into it are invalid afterwards. False (with error) on corrupt compressed data.
    bool refill(size_t n, std::string& error);

    // Upper bound on the body bytes from p to the end.
    size_t remaining_bound() const { return size_t(e - p) + (declared_ - produced_); }
    // Offset of p in the body, for error messages.
    size_t offset() const { return consumed_ + size_t(p - base_); }
    // How many items a declared count may reserve up front. Plain bodies have had the count
    // checked against the bytes; compressed ones reserve in proportion to the compressed input
    // and grow beyond that only as data actually arrives.
    size_t reserve_cap(size_t count) const;
    bool compressed() const { return zin_ != nullptr; }

  private:
    bool inflate_block(std::string& error);
    void pull();

    const char* base_ = nullptr; // start of the window (for offsets)
    size_t consumed_ = 0;        // body bytes before base_
    size_t declared_ = 0;        // compressed: declared body size
    size_t produced_ = 0;        // compressed: body bytes inflated so far
    size_t max_inflated_ = 0;
    size_t max_window_ = 0;
    const uint8_t* zin_ = nullptr; // compressed input still to read
    const uint8_t* zend_ = nullptr;
    size_t zsize_ = 0;
    Input* in_ = nullptr; // pulled body
    std::vector<char> buf_;
    std::vector<char> dict_; // previous block's output
    struct Z;
    std::unique_ptr<Z> z_;
};

} // namespace xfile::detail
