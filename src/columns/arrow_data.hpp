// Arrays this layer produces: immutable trees of owned, 64-byte-aligned
// buffers, shared by reference count, so one result can be exported through
// the Arrow C Data Interface any number of times. Every export takes a
// reference; its release callback drops it, and the last drop frees all.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capi/quillmere.h"

namespace quillmere::columns {

// One heap block, 64-byte aligned and padded to a multiple of 64 bytes.
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    Buffer(Buffer&& other) noexcept : data_(other.data_), size_(other.size_) { other.data_ = nullptr, other.size_ = 0; }
    Buffer& operator=(Buffer&& other) noexcept;
    ~Buffer();

    // False when memory ran out; the buffer is then empty.
    bool allocate(std::size_t size) noexcept;
    // Keeps the first `size` bytes; grows or shrinks the block.
    bool resize(std::size_t size) noexcept;

    template <class T>
    T* as() const noexcept {
        return static_cast<T*>(data_);
    }
    void* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

// One array of an output tree: its type, its buffers and its children.
struct ArrayNode {
    std::atomic<std::int64_t> refs{1};
    std::string format;
    std::string name;
    std::string metadata;  // already in the C interface's binary encoding
    std::int64_t flags = ARROW_FLAG_NULLABLE;
    std::int64_t length = 0;
    std::int64_t null_count = 0;
    int buffer_count = 0;  // the number the type has; missing ones export as null
    Buffer buffers[3];
    std::vector<ArrayNode*> children;  // each holds one reference

    ArrayNode() = default;
    ArrayNode(const ArrayNode&) = delete;
    ArrayNode& operator=(const ArrayNode&) = delete;
};

void retain(ArrayNode* node) noexcept;
void release(ArrayNode* node) noexcept;

// A new node (one reference) or null when memory ran out.
ArrayNode* new_node(const char* format, std::int64_t length, int buffer_count) noexcept;

// Exports a fresh pair that shares the node's buffers; false when memory ran out.
bool export_array(ArrayNode* node, ArrowArray* out) noexcept;
bool export_schema(const ArrayNode* node, ArrowSchema* out) noexcept;

// Writes the extension metadata of arrow.uuid in the C interface's encoding.
void set_uuid_extension(ArrayNode& node);

// A column as chunks of one type, shared by reference count.
struct Chunks {
    std::atomic<std::int64_t> refs{1};
    ArrayNode* type = nullptr;         // a chunk, or an empty array of the type
    std::vector<ArrayNode*> chunks;    // each holds one reference

    Chunks() = default;
    Chunks(const Chunks&) = delete;
    Chunks& operator=(const Chunks&) = delete;
};

void retain(Chunks* chunks) noexcept;
void release(Chunks* chunks) noexcept;

// A stream over the chunks; false when memory ran out.
bool export_stream(Chunks* chunks, ArrowArrayStream* out) noexcept;

// A self-contained byte form of the chunks (types, lengths, buffers) and back.
// `decode` validates everything it reads and returns null on malformed or
// truncated input; `why` then names the problem.
std::string encode(const Chunks& chunks);
Chunks* decode(const unsigned char* data, std::size_t size, const char*& why) noexcept;

}  // namespace quillmere::columns
