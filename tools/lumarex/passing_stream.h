// SPDX-License-Identifier: MIT
// A file on its way from an encoder to the output file, rewritten as it
// passes (png_file.h, xmp_packet.h). The encoder must write it in order,
// from the start; every byte is taken, so that a failed write is kept by the
// output file for its commit rather than turned into the encoder's own
// vaguer error.
#pragma once

#include <OpenImageIO/filesystem.h>

#include <cstdint>

namespace lumarex_cli {

class PassingStream : public OIIO::Filesystem::IOProxy {
public:
    explicit PassingStream(OIIO::Filesystem::IOProxy& out) : IOProxy(out.filename(), Write), out_(out) {}

    size_t write(const void* buf, size_t size) final {
        const size_t n = pwrite(buf, size, m_pos);
        m_pos += int64_t(n);
        return n;
    }
    size_t pwrite(const void* buf, size_t size, int64_t offset) final {
        if (offset != taken_) inOrder_ = false;  // the writer went back or skipped
        if (inOrder_) Take(static_cast<const uint8_t*>(buf), size);
        taken_ += int64_t(size);
        return size;
    }

protected:
    // The next `n` bytes of the file, in order.
    virtual void Take(const uint8_t* p, size_t n) = 0;
    void Emit(const uint8_t* p, size_t n) {
        if (n > 0) out_.write(p, n);
    }
    // Whether every byte so far came in order; once not, nothing more is
    // taken.
    bool InOrder() const { return inOrder_; }

private:
    OIIO::Filesystem::IOProxy& out_;
    int64_t taken_ = 0;  // bytes written to this stream
    bool inOrder_ = true;
};

}  // namespace lumarex_cli
