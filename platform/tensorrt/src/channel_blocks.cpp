#include "platform/tensorrt/src/channel_blocks.h"

#include <cstring>
#include <numeric>

#include "platform/tensorrt/src/parallel_for.h"

namespace trt_host {
namespace {

using dnnl::memory;

// Channels a source hands over as one contiguous run in both layouts: every run starts at a
// multiple of it on both sides and no block boundary falls inside one.
int64_t runLength(const ExpandSource& source, int64_t out_block, int64_t out_offset) {
    return std::gcd(std::gcd(out_block, out_offset),
                    std::gcd(source.layout.block, source.channels));
}

// count runs of kRun values, source and target each advancing by its own step.
template <int64_t kRun>
void copyRuns(const float* from, int64_t from_step, float* to, int64_t to_step, int64_t count) {
    for (int64_t p = 0; p < count; ++p) {
        std::memcpy(to + p * to_step, from + p * from_step, kRun * sizeof(float));
    }
}

// The block widths oneDNN uses get copies of a size known here, a few vector moves each.
void copyPixels(const float* from, int64_t from_step, float* to, int64_t to_step, int64_t count,
                int64_t run) {
    switch (run) {
        case 16:
            copyRuns<16>(from, from_step, to, to_step, count);
            return;
        case 8:
            copyRuns<8>(from, from_step, to, to_step, count);
            return;
        default:
            for (int64_t p = 0; p < count; ++p) {
                const float* pixel = from + p * from_step;
                float* into = to + p * to_step;
                TRT_HOST_SIMD
                for (int64_t i = 0; i < run; ++i) {
                    into[i] = pixel[i];
                }
            }
    }
}

// One output row (image, y) of one source, starting at output channel first.
void copyRow(const ExpandSource& source, const float* from, float* out, const ChannelBlocks& to,
             int64_t image, int64_t y, int64_t first, int64_t run) {
    const ChannelBlocks& in = source.layout;
    const int64_t in_width = to.width / source.kw, sy = y / source.kh, tap_row = y % source.kh;
    for (int64_t c = 0; c < source.channels; c += run) {
        float* target = out + to.offset(image, first + c, y, 0);
        for (int64_t kx = 0; kx < source.kw; ++kx) {
            const int64_t channel = (tap_row * source.kw + kx) * source.channels + c;
            const float* line = from + in.offset(image, channel, sy, 0);
            float* column = target + kx * to.block;
            if (source.kw == 1 && in.block == run && to.block == run) {
                // Same blocks on both sides: one row of one block is one contiguous stretch.
                std::memcpy(column, line, static_cast<std::size_t>(in_width * run) * sizeof(float));
                continue;
            }
            copyPixels(line, in.block, column, source.kw * to.block, in_width, run);
        }
    }
}

void zeroPadding(float* out, const ChannelBlocks& to, int64_t image, int64_t y, int64_t channels) {
    for (int64_t c = channels; c < to.blocks * to.block; ++c) {
        float* target = out + to.offset(image, c, y, 0);
        for (int64_t x = 0; x < to.width; ++x) {
            target[x * to.block] = 0.0F;
        }
    }
}

}  // namespace

std::optional<ChannelBlocks> ChannelBlocks::of(const memory::desc& md) {
    const memory::dims dims = md.dims();
    if (dims.size() != 4 || md.data_type() != memory::data_type::f32) {
        return std::nullopt;
    }
    using tag = memory::format_tag;
    const int64_t c = dims[1];
    const std::pair<tag, int64_t> family[] = {
        {tag::acdb, c}, {tag::aBcd16b, 16}, {tag::aBcd8b, 8}, {tag::aBcd4b, 4}, {tag::abcd, 1}};
    for (const auto& member : family) {
        if (md == memory::desc(dims, memory::data_type::f32, member.first)) {
            const int64_t block = member.second;
            return ChannelBlocks{member.first, block, (c + block - 1) / block, dims[2], dims[3]};
        }
    }
    return std::nullopt;
}

memory::desc ChannelBlocks::descFor(const memory::dims& dims) const {
    return memory::desc(dims, memory::data_type::f32, tag);
}

void expandIntoChannels(const std::vector<ExpandSource>& sources,
                        const std::vector<const float*>& data, float* out,
                        const ChannelBlocks& out_layout, int64_t images, int64_t channels) {
    std::vector<int64_t> runs;
    for (const ExpandSource& source : sources) {
        runs.push_back(runLength(source, out_layout.block, source.first));
    }
    const int64_t rows = images * out_layout.height;
    TRT_HOST_PARALLEL_FOR
    for (int64_t row = 0; row < rows; ++row) {
        const int64_t image = row / out_layout.height, y = row % out_layout.height;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            copyRow(sources[i], data[i], out, out_layout, image, y, sources[i].first, runs[i]);
        }
        zeroPadding(out, out_layout, image, y, channels);
    }
}

}  // namespace trt_host
