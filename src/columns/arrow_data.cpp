#include "columns/arrow_data.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quillmere::columns {

namespace {

constexpr std::size_t ALIGNMENT = 64;

std::size_t padded(std::size_t size) noexcept { return (size + ALIGNMENT - 1) / ALIGNMENT * ALIGNMENT; }

}  // namespace

Buffer& Buffer::operator=(Buffer&& other) noexcept {
    if (this != &other) {
        std::free(data_);
        data_ = other.data_;
        size_ = other.size_;
        other.data_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

Buffer::~Buffer() { std::free(data_); }

bool Buffer::allocate(std::size_t size) noexcept {
    std::free(data_);
    size_ = 0;
    // Never a null block, so an exported buffer of an empty array is still an address.
    data_ = std::aligned_alloc(ALIGNMENT, padded(size == 0 ? 1 : size));
    if (data_ == nullptr) return false;
    size_ = size;
    return true;
}

bool Buffer::resize(std::size_t size) noexcept {
    if (data_ != nullptr && padded(size == 0 ? 1 : size) == padded(size_ == 0 ? 1 : size_)) {
        size_ = size;
        return true;
    }
    Buffer bigger;
    if (!bigger.allocate(size)) return false;
    if (data_ != nullptr) std::memcpy(bigger.data_, data_, size < size_ ? size : size_);
    *this = std::move(bigger);
    return true;
}

void retain(ArrayNode* node) noexcept { node->refs.fetch_add(1, std::memory_order_relaxed); }

void release(ArrayNode* node) noexcept {
    if (node == nullptr || node->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    for (ArrayNode* child : node->children) release(child);
    delete node;
}

ArrayNode* new_node(const char* format, std::int64_t length, int buffer_count) noexcept {
    auto* node = new (std::nothrow) ArrayNode;
    if (node == nullptr) return nullptr;
    node->format = format;
    node->length = length;
    node->buffer_count = buffer_count;
    return node;
}

namespace {

// What an exported ArrowArray owns: a reference to its node, and the
// pointer tables and child structs it hands out.
struct ArrayExport {
    ArrayNode* node;
    const void* buffers[3];
    std::vector<ArrowArray*> child_pointers;
    std::vector<ArrowArray> child_arrays;
};

void release_array(ArrowArray* array) {
    if (array == nullptr || array->release == nullptr) return;
    auto* state = static_cast<ArrayExport*>(array->private_data);
    // A consumer may have moved a child out; moved children are marked released.
    for (ArrowArray& child : state->child_arrays) {
        if (child.release != nullptr) child.release(&child);
    }
    release(state->node);
    delete state;
    array->release = nullptr;
}

struct SchemaExport {
    const ArrayNode* node;
    std::vector<ArrowSchema*> child_pointers;
    std::vector<ArrowSchema> child_schemas;
};

void release_schema(ArrowSchema* schema) {
    if (schema == nullptr || schema->release == nullptr) return;
    auto* state = static_cast<SchemaExport*>(schema->private_data);
    for (ArrowSchema& child : state->child_schemas) {
        if (child.release != nullptr) child.release(&child);
    }
    release(const_cast<ArrayNode*>(state->node));
    delete state;
    schema->release = nullptr;
}

}  // namespace

bool export_array(ArrayNode* node, ArrowArray* out) noexcept {
    auto* state = new (std::nothrow) ArrayExport;
    if (state == nullptr) return false;
    state->node = node;
    for (int i = 0; i < 3; ++i) {
        // A validity bitmap is left out when nothing is null.
        const bool omitted = i == 0 && node->null_count == 0;
        state->buffers[i] = omitted ? nullptr : node->buffers[i].data();
    }
    const std::size_t n = node->children.size();
    state->child_pointers.resize(n);
    state->child_arrays.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        state->child_pointers[i] = &state->child_arrays[i];
        if (!export_array(node->children[i], &state->child_arrays[i])) {
            for (std::size_t j = 0; j < i; ++j) state->child_arrays[j].release(&state->child_arrays[j]);
            delete state;
            return false;
        }
    }
    retain(node);
    *out = ArrowArray{node->length,
                      node->null_count,
                      0,
                      node->buffer_count,
                      static_cast<std::int64_t>(n),
                      state->buffers,
                      n ? state->child_pointers.data() : nullptr,
                      nullptr,
                      release_array,
                      state};
    return true;
}

bool export_schema(const ArrayNode* node, ArrowSchema* out) noexcept {
    auto* state = new (std::nothrow) SchemaExport;
    if (state == nullptr) return false;
    state->node = node;
    const std::size_t n = node->children.size();
    state->child_pointers.resize(n);
    state->child_schemas.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        state->child_pointers[i] = &state->child_schemas[i];
        if (!export_schema(node->children[i], &state->child_schemas[i])) {
            for (std::size_t j = 0; j < i; ++j) state->child_schemas[j].release(&state->child_schemas[j]);
            delete state;
            return false;
        }
    }
    retain(const_cast<ArrayNode*>(node));
    *out = ArrowSchema{node->format.c_str(),
                       node->name.c_str(),
                       node->metadata.empty() ? nullptr : node->metadata.data(),
                       node->flags,
                       static_cast<std::int64_t>(n),
                       n ? state->child_pointers.data() : nullptr,
                       nullptr,
                       release_schema,
                       state};
    return true;
}

namespace {

void put_i32(std::string& out, std::int32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); }

}  // namespace

void set_uuid_extension(ArrayNode& node) {
    // int32 pair count, then each key and value as int32 length and bytes.
    std::string& out = node.metadata;
    out.clear();
    const auto pair = [&out](const char* key, const char* value) {
        put_i32(out, static_cast<std::int32_t>(std::strlen(key)));
        out += key;
        put_i32(out, static_cast<std::int32_t>(std::strlen(value)));
        out += value;
    };
    put_i32(out, 2);
    pair("ARROW:extension:name", "arrow.uuid");
    pair("ARROW:extension:metadata", "");
}

void retain(Chunks* chunks) noexcept { chunks->refs.fetch_add(1, std::memory_order_relaxed); }

void release(Chunks* chunks) noexcept {
    if (chunks == nullptr || chunks->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    for (ArrayNode* chunk : chunks->chunks) release(chunk);
    release(chunks->type);
    delete chunks;
}

namespace {

struct StreamExport {
    Chunks* chunks;
    std::size_t next = 0;
};

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    auto* state = static_cast<StreamExport*>(stream->private_data);
    return export_schema(state->chunks->type, out) ? 0 : ENOMEM;
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
    auto* state = static_cast<StreamExport*>(stream->private_data);
    if (state->next == state->chunks->chunks.size()) {
        out->release = nullptr;  // the end of the stream
        return 0;
    }
    if (!export_array(state->chunks->chunks[state->next], out)) return ENOMEM;
    ++state->next;
    return 0;
}

const char* stream_get_last_error(ArrowArrayStream*) { return "out of memory"; }

void stream_release(ArrowArrayStream* stream) {
    if (stream == nullptr || stream->release == nullptr) return;
    auto* state = static_cast<StreamExport*>(stream->private_data);
    release(state->chunks);
    delete state;
    stream->release = nullptr;
}

}  // namespace

bool export_stream(Chunks* chunks, ArrowArrayStream* out) noexcept {
    auto* state = new (std::nothrow) StreamExport{chunks};
    if (state == nullptr) return false;
    retain(chunks);
    *out = ArrowArrayStream{stream_get_schema, stream_get_next, stream_get_last_error, stream_release, state};
    return true;
}

// --- byte form ---

namespace {

constexpr char MAGIC[4] = {'Q', 'M', 'C', '1'};
constexpr int MAX_DEPTH = 4;

void put_u64(std::string& out, std::uint64_t v) { out.append(reinterpret_cast<const char*>(&v), 8); }

void put_text(std::string& out, const std::string& text) {
    put_u64(out, text.size());
    out += text;
}

void encode_node(std::string& out, const ArrayNode& node) {
    put_text(out, node.format);
    put_text(out, node.name);
    put_text(out, node.metadata);
    put_u64(out, static_cast<std::uint64_t>(node.flags));
    put_u64(out, static_cast<std::uint64_t>(node.length));
    put_u64(out, static_cast<std::uint64_t>(node.null_count));
    put_u64(out, static_cast<std::uint64_t>(node.buffer_count));
    for (int i = 0; i < node.buffer_count; ++i) {
        put_u64(out, node.buffers[i].size());
        out.append(node.buffers[i].as<const char>(), node.buffers[i].size());
    }
    put_u64(out, node.children.size());
    for (const ArrayNode* child : node.children) encode_node(out, *child);
}

struct Reader {
    const unsigned char* data;
    std::size_t left;
    const char* why = nullptr;

    bool u64(std::uint64_t& v) {
        if (left < 8) return fail("truncated");
        std::memcpy(&v, data, 8);
        data += 8;
        left -= 8;
        return true;
    }
    bool bytes(void* out, std::uint64_t n) {
        if (left < n) return fail("truncated");
        if (n != 0) std::memcpy(out, data, n);
        data += n;
        left -= n;
        return true;
    }
    bool text(std::string& out) {
        std::uint64_t n;
        if (!u64(n)) return false;
        if (left < n) return fail("truncated");
        out.assign(reinterpret_cast<const char*>(data), n);
        data += n;
        left -= n;
        return true;
    }
    bool fail(const char* reason) {
        if (why == nullptr) why = reason;
        return false;
    }
};

// Bytes of each buffer that a node of this layer's formats must hold.
bool sizes_fit(const ArrayNode& node) {
    const std::string& f = node.format;
    const auto n = static_cast<std::uint64_t>(node.length);
    const auto has = [&node](int i, std::uint64_t need) { return node.buffers[i].size() >= need; };
    const std::uint64_t bitmap = (n + 7) / 8;
    if (node.null_count != 0 && !has(0, bitmap)) return false;
    if (f == "+s") return node.buffer_count == 1;
    if (node.buffer_count < 2) return false;
    if (f == "b") return has(1, bitmap);
    if (f == "c" || f == "C") return has(1, n);
    if (f == "s" || f == "S") return has(1, 2 * n);
    if (f == "i" || f == "I" || f == "f" || f == "tdD") return has(1, 4 * n);
    if (f == "l" || f == "L" || f == "g" || f.rfind("tt", 0) == 0 || f.rfind("ts", 0) == 0 || f.rfind("tD", 0) == 0) {
        return has(1, 8 * n);
    }
    if (f == "w:16" || f.rfind("d:", 0) == 0) return has(1, 16 * n);
    if (f == "u" || f == "U") {
        const std::uint64_t width = f == "u" ? 4 : 8;
        if (node.buffer_count != 3 || !has(1, width * (n + 1))) return false;
        std::int64_t previous = 0;
        for (std::uint64_t i = 0; i <= n; ++i) {
            std::int64_t at;
            if (width == 4) {
                at = node.buffers[1].as<const std::int32_t>()[i];
            } else {
                at = node.buffers[1].as<const std::int64_t>()[i];
            }
            if (at < previous || static_cast<std::uint64_t>(at) > node.buffers[2].size()) return false;
            previous = at;
        }
        return true;
    }
    return false;
}

ArrayNode* decode_node(Reader& in, int depth) {
    if (depth > MAX_DEPTH) {
        in.fail("nested too deeply");
        return nullptr;
    }
    auto* node = new (std::nothrow) ArrayNode;
    if (node == nullptr) {
        in.fail("out of memory");
        return nullptr;
    }
    std::uint64_t flags, length, null_count, buffer_count, child_count;
    bool ok = in.text(node->format) && in.text(node->name) && in.text(node->metadata) && in.u64(flags) &&
              in.u64(length) && in.u64(null_count) && in.u64(buffer_count) && buffer_count <= 3 &&
              length < (std::uint64_t{1} << 62) && null_count <= length;
    if (ok) {
        node->flags = static_cast<std::int64_t>(flags);
        node->length = static_cast<std::int64_t>(length);
        node->null_count = static_cast<std::int64_t>(null_count);
        node->buffer_count = static_cast<int>(buffer_count);
    }
    for (int i = 0; ok && i < node->buffer_count; ++i) {
        std::uint64_t size;
        ok = in.u64(size) && (size <= in.left || in.fail("truncated"));
        if (ok && !node->buffers[i].allocate(size)) ok = in.fail("out of memory");
        if (ok) ok = in.bytes(node->buffers[i].data(), size);
    }
    ok = ok && in.u64(child_count) && (child_count <= 4 || in.fail("too many children"));
    for (std::uint64_t i = 0; ok && i < child_count; ++i) {
        ArrayNode* child = decode_node(in, depth + 1);
        ok = child != nullptr;
        if (ok) {
            node->children.push_back(child);
            ok = child->length == node->length || in.fail("a child's length differs from its parent's");
        }
    }
    if (ok && !sizes_fit(*node)) ok = in.fail("a buffer is smaller than its array needs");
    if (!ok) {
        in.fail("malformed");
        release(node);
        return nullptr;
    }
    return node;
}

}  // namespace

std::string encode(const Chunks& chunks) {
    std::string out(MAGIC, sizeof MAGIC);
    put_u64(out, chunks.chunks.size());
    if (chunks.chunks.empty()) encode_node(out, *chunks.type);
    for (const ArrayNode* chunk : chunks.chunks) encode_node(out, *chunk);
    return out;
}

Chunks* decode(const unsigned char* data, std::size_t size, const char*& why) noexcept {
    why = nullptr;
    if (size < sizeof MAGIC || std::memcmp(data, MAGIC, sizeof MAGIC) != 0) {
        why = "not a column";
        return nullptr;
    }
    Reader in{data + sizeof MAGIC, size - sizeof MAGIC};
    auto* chunks = new (std::nothrow) Chunks;
    std::uint64_t count;
    if (chunks == nullptr || !in.u64(count) || count > in.left) {
        why = chunks == nullptr ? "out of memory" : "truncated";
        delete chunks;
        return nullptr;
    }
    const std::uint64_t nodes = count == 0 ? 1 : count;
    for (std::uint64_t i = 0; i < nodes; ++i) {
        ArrayNode* node = decode_node(in, 0);
        if (node == nullptr || (chunks->type != nullptr && node->format != chunks->type->format)) {
            why = node == nullptr ? in.why : "chunks of different types";
            release(node);
            release(chunks);
            return nullptr;
        }
        if (chunks->type == nullptr) {
            chunks->type = node;
            if (count == 0) break;
            retain(node);
        }
        chunks->chunks.push_back(node);
    }
    if (in.left != 0) {
        why = "trailing bytes";
        release(chunks);
        return nullptr;
    }
    return chunks;
}

}  // namespace quillmere::columns
