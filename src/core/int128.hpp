// The 128-bit integers of GCC and Clang, under one short name each.
#pragma once

namespace quillmere::core {

__extension__ typedef __int128 i128;
__extension__ typedef unsigned __int128 u128;

}  // namespace quillmere::core
