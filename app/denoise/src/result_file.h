// Writing a result file so that it is never seen half-written under its final name: the bytes go
// to a temporary file beside it ("<path>.part", same folder and so the same file system), which
// is renamed over the final name only once everything is written and closed. Any thread; two
// writers of the same path at once are not supported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace krell::frame {

//! Where writing a result file stopped.
enum class WriteStage {
    kDone,   //!< written and renamed into place
    kOpen,   //!< the temporary file could not be created
    kWrite,  //!< writing, closing or renaming failed; the temporary was removed
};

struct WriteOutcome {
    WriteStage stage = WriteStage::kDone;
    int error = 0;  //!< errno of the failed call; 0 when done
};

//! Replaces path with the size bytes at data (see the file comment). On failure path is left as
//! it was (absent, or its previous content) and no temporary remains. Prints nothing.
WriteOutcome writeFileReplacing(const std::string& path, const uint8_t* data, size_t size);

}  // namespace krell::frame
