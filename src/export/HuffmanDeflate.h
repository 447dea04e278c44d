#pragma once

#include <cstddef>
#include <cstdint>

namespace quillex {

// Input bytes per deflate block: each block has its own code, so the code follows the data
// as it changes, at a cost of about a hundred bytes of code description per block.
inline constexpr size_t HuffmanBlockBytes = 64 * 1024;

// The most bytes HuffmanDeflate writes for Size input bytes (the encoder stores a block
// uncompressed where that is shorter, so this is little more than Size).
size_t HuffmanDeflateBound(size_t Size);

// Encodes In[0 .. Size) as raw deflate blocks that code every byte as a literal with a
// Huffman code of its own block's byte counts (no matches: the filtered rows of a waterfall
// repeat too little for matches to pay, and coding literals alone is several times faster
// than searching for them). With Last the final block ends the stream and is padded to a
// byte; otherwise the data ends on a byte boundary behind an empty stored block (the bytes
// 00 00 ff ff), so that another call's blocks may follow directly. Out must have room for
// HuffmanDeflateBound(Size) bytes; returns the number written.
size_t HuffmanDeflate(const uint8_t* In, size_t Size, bool Last, uint8_t* Out);

} // namespace quillex
