// The 4-D float layouts oneDNN's convolution kernels read and write (plain, channel-last and
// channel blocks of 4, 8 or 16) as one family, and the copy that joins an upsampling's
// depth-to-space with a channel concatenation in any of them.
#pragma once

#include <oneapi/dnnl/dnnl.hpp>

#include <cstdint>
#include <optional>
#include <vector>

namespace trt_host {

//! Channels split in blocks of `block` values, stored [image][block index][row][column][block]:
//! block 1 is plain NCHW, block = all channels is channel-last.
struct ChannelBlocks {
    dnnl::memory::format_tag tag;
    int64_t block, blocks, height, width;

    int64_t offset(int64_t image, int64_t channel, int64_t y, int64_t x) const {
        return (((image * blocks + channel / block) * height + y) * width + x) * block +
               channel % block;
    }
    //! The layout of md when it is one of the family (dense, f32, 4-D); none otherwise.
    static std::optional<ChannelBlocks> of(const dnnl::memory::desc& md);
    //! Descriptor of dims in the layout tagged like this one.
    dnnl::memory::desc descFor(const dnnl::memory::dims& dims) const;
};

//! One input of an expanding copy: a tensor, or the 1x1 convolution result of an upsampling
//! whose channel (tap, map) goes to pixel (y * kh + tap / kw, x * kw + tap % kw), channel map.
struct ExpandSource {
    int32_t buffer;  //!< plan buffer id (its data is looked up at each run)
    ChannelBlocks layout;
    int64_t first;     //!< first output channel it fills
    int64_t channels;  //!< output channels it fills
    int64_t kh, kw;    //!< 1, 1 for a tensor copied as it is
};

//! Writes the sources (data[i] holds sources[i]) into their channels of out, of layout
//! out_layout with `channels` real channels. Padding channels of a blocked output are set
//! to zero, as oneDNN expects of them.
void expandIntoChannels(const std::vector<ExpandSource>& sources,
                        const std::vector<const float*>& data, float* out,
                        const ChannelBlocks& out_layout, int64_t images, int64_t channels);

}  // namespace trt_host
