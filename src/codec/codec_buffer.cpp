#include "codec/codec_buffer.h"

char CodecBuffer[CodecBufferSize];
