#include "platform/tensorrt/src/blob_codec.h"

#include <cstring>

#include "platform/tensorrt/src/shape_inference.h"

namespace trt_host {
namespace {

constexpr uint32_t kMaxNameBytes = 4096;
constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
constexpr uint64_t kFnvPrime = 0x100000001b3ULL;

class Writer {
public:
    std::vector<uint8_t> bytes;

    void u8(uint8_t v) { bytes.push_back(v); }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void u64(uint64_t v) {
        for (int i = 0; i < 8; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void f32(float v) {
        uint32_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        u32(bits);
    }
    void str(const std::string& s) {
        u32(static_cast<uint32_t>(s.size()));
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    void dims(const nvinfer1::Dims& d) {
        i32(d.nbDims);
        for (int32_t v : d.d)
            i32(v);
    }
    void ivec(const std::vector<int32_t>& v) {
        u32(static_cast<uint32_t>(v.size()));
        for (int32_t x : v)
            i32(x);
    }
    void fvec(const std::vector<float>& v) {
        u32(static_cast<uint32_t>(v.size()));
        for (float x : v)
            f32(x);
    }
};

// Every read checks the remaining length first; after the first short read ok stays false and
// every later read yields zeros, so the caller checks ok once at the end.
class Reader {
public:
    Reader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return pos_ == size_; }

    bool take(std::size_t n) {
        if (!ok_ || size_ - pos_ < n) {
            ok_ = false;
            return false;
        }
        return true;
    }
    uint8_t u8() { return take(1) ? data_[pos_++] : 0; }
    uint32_t u32() {
        if (!take(4)) return 0;
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(data_[pos_++]) << (8 * i);
        return v;
    }
    uint64_t u64() {
        const uint64_t low = u32();
        return low | (static_cast<uint64_t>(u32()) << 32);
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    bool flag() { return u8() != 0; }
    float f32() {
        const uint32_t bits = u32();
        float v = 0.0F;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    std::string str() {
        const uint32_t n = u32();
        if (n > kMaxNameBytes || !take(n)) {
            ok_ = false;
            return {};
        }
        std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return s;
    }
    nvinfer1::Dims dims() {
        nvinfer1::Dims d{};
        d.nbDims = i32();
        for (int32_t& v : d.d)
            v = i32();
        if (d.nbDims < 0 || d.nbDims > nvinfer1::Dims::MAX_DIMS) ok_ = false;
        return d;
    }
    // A count is accepted only when that many elements of element_bytes can still follow.
    uint32_t count(std::size_t element_bytes) {
        const uint32_t n = u32();
        if (ok_ && n > (size_ - pos_) / element_bytes) ok_ = false;
        return ok_ ? n : 0;
    }
    std::vector<int32_t> ivec() {
        std::vector<int32_t> v(count(4));
        for (int32_t& x : v)
            x = i32();
        return v;
    }
    std::vector<float> fvec() {
        std::vector<float> v(count(4));
        for (float& x : v)
            x = f32();
        return v;
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_{0};
    bool ok_{true};
};

template <typename E>
int32_t code(E value) {
    return static_cast<int32_t>(value);
}

void writeOp(Writer& w, const GraphOp& op) {
    w.i32(code(op.kind));
    w.str(op.name);
    w.ivec(op.inputs);
    w.ivec(op.outputs);
    w.i32(code(op.precision));
    w.u8(op.precision_set);
    w.i32(code(op.output_type));
    w.u8(op.output_type_set);
    w.i32(op.out_maps);
    w.i32(op.groups);
    for (const nvinfer1::Dims* d :
         {&op.kernel, &op.stride, &op.pre_padding, &op.post_padding, &op.dilation}) {
        w.dims(*d);
    }
    w.fvec(op.weights);
    w.fvec(op.bias);
    w.i32(code(op.activation));
    w.f32(op.alpha);
    w.f32(op.beta);
    w.i32(code(op.pooling));
    w.u8(op.exclude_padding);
    w.i32(op.axis);
    w.i32(code(op.elementwise));
    w.u32(op.axes);
    w.i32(code(op.resize_mode));
    w.fvec(op.scales);
    w.dims(op.resize_dims);
    w.u8(op.has_transpose);
    for (int32_t v : op.transpose.order)
        w.i32(v);
    w.u8(op.has_reshape);
    w.dims(op.reshape);
}

GraphOp readOp(Reader& r) {
    GraphOp op;
    op.kind = static_cast<OpKind>(r.i32());
    op.name = r.str();
    op.inputs = r.ivec();
    op.outputs = r.ivec();
    op.precision = static_cast<nvinfer1::DataType>(r.i32());
    op.precision_set = r.flag();
    op.output_type = static_cast<nvinfer1::DataType>(r.i32());
    op.output_type_set = r.flag();
    op.out_maps = r.i32();
    op.groups = r.i32();
    for (nvinfer1::Dims* d :
         {&op.kernel, &op.stride, &op.pre_padding, &op.post_padding, &op.dilation}) {
        *d = r.dims();
    }
    op.weights = r.fvec();
    op.bias = r.fvec();
    op.activation = static_cast<nvinfer1::ActivationType>(r.i32());
    op.alpha = r.f32();
    op.beta = r.f32();
    op.pooling = static_cast<nvinfer1::PoolingType>(r.i32());
    op.exclude_padding = r.flag();
    op.axis = r.i32();
    op.elementwise = static_cast<nvinfer1::ElementWiseOperation>(r.i32());
    op.axes = r.u32();
    op.resize_mode = static_cast<nvinfer1::InterpolationMode>(r.i32());
    op.scales = r.fvec();
    op.resize_dims = r.dims();
    op.has_transpose = r.flag();
    for (int32_t& v : op.transpose.order)
        v = r.i32();
    op.has_reshape = r.flag();
    op.reshape = r.dims();
    return op;
}

void writeGraph(Writer& w, const Graph& graph) {
    w.str(graph.name);
    w.i32(graph.max_batch);
    w.u32(graph.flags);
    w.u32(static_cast<uint32_t>(graph.tensors.size()));
    for (const GraphTensor& t : graph.tensors) {
        w.str(t.name);
        w.dims(t.dims);
        w.i32(code(t.type));
        w.u8(t.has_range);
        w.f32(t.range_min);
        w.f32(t.range_max);
        w.u32(t.allowed_formats);
    }
    w.ivec(graph.inputs);
    w.ivec(graph.outputs);
    w.u32(static_cast<uint32_t>(graph.ops.size()));
    for (const GraphOp& op : graph.ops)
        writeOp(w, op);
}

bool readGraph(Reader& r, Graph& graph) {
    graph.name = r.str();
    graph.max_batch = r.i32();
    graph.flags = r.u32();
    // The smallest tensor record is 4 + 36 + 4 + 1 + 12 bytes; that bounds the count.
    graph.tensors.resize(r.count(57));
    for (GraphTensor& t : graph.tensors) {
        t.name = r.str();
        t.dims = r.dims();
        t.type = static_cast<nvinfer1::DataType>(r.i32());
        t.has_range = r.flag();
        t.range_min = r.f32();
        t.range_max = r.f32();
        t.allowed_formats = r.u32();
    }
    graph.inputs = r.ivec();
    graph.outputs = r.ivec();
    const uint32_t op_count = r.count(64);
    for (uint32_t i = 0; i < op_count && r.ok(); ++i) {
        graph.ops.push_back(readOp(r));
    }
    return r.ok() && r.atEnd();
}

}  // namespace

uint64_t BlobCodec::checksum(const uint8_t* bytes, std::size_t size) {
    uint64_t hash = kFnvOffset;
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ bytes[i]) * kFnvPrime;
    }
    return hash;
}

std::vector<uint8_t> BlobCodec::encode(const Graph& graph) {
    Writer payload;
    writeGraph(payload, graph);
    Writer blob;
    blob.bytes.assign(kMagic, kMagic + 4);
    blob.u32(kFormatVersion);
    blob.u64(payload.bytes.size());
    blob.u64(checksum(payload.bytes.data(), payload.bytes.size()));
    blob.u32(NV_TENSORRT_VERSION);
    blob.u32(0);
    blob.bytes.insert(blob.bytes.end(), payload.bytes.begin(), payload.bytes.end());
    return blob.bytes;
}

bool BlobCodec::decode(const void* blob, std::size_t size, Graph& graph, std::string& error) {
    const auto* bytes = static_cast<const uint8_t*>(blob);
    if (bytes == nullptr || size < kHeaderBytes || std::memcmp(bytes, kMagic, 4) != 0) {
        error = "not an engine blob of this runtime (bad magic or too short)";
        return false;
    }
    Reader header(bytes + 4, kHeaderBytes - 4);
    const uint32_t version = header.u32();
    const uint64_t payload_size = header.u64();
    const uint64_t sum = header.u64();
    if (version != kFormatVersion) {
        error = "engine blob format version " + std::to_string(version) +
                " is not supported (expected " + std::to_string(kFormatVersion) + ")";
        return false;
    }
    if (payload_size != size - kHeaderBytes) {
        error = "engine blob is truncated or has trailing bytes (" + std::to_string(size) +
                " bytes, header says " + std::to_string(payload_size + kHeaderBytes) + ")";
        return false;
    }
    const uint8_t* payload = bytes + kHeaderBytes;
    if (checksum(payload, payload_size) != sum) {
        error = "engine blob checksum mismatch (corrupt blob)";
        return false;
    }
    Reader reader(payload, payload_size);
    graph = Graph{};
    if (!readGraph(reader, graph)) {
        error = "engine blob payload is malformed";
        return false;
    }
    std::string reason;
    if (!ShapeInference::check(graph, reason)) {
        error = "engine blob holds an inconsistent network: " + reason;
        return false;
    }
    return true;
}

}  // namespace trt_host
