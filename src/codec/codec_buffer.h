// Scratch output of the text codecs, overwritten by every conversion.
#pragma once

constexpr int CodecBufferSize = 4096;
extern char CodecBuffer[CodecBufferSize];
