// Cuts a byte stream of H.264 or H.265 (Annex B), arriving in arbitrary pieces, into access
// units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct AVCodecContext;
struct AVCodecParserContext;
struct AVPacket;

namespace movra {

struct PacketDeleter {
    void operator()(AVPacket* p) const;
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// One access unit for the decoder: the packet's pts carries the tag, stream_index the codec
// (MV_CODEC_*), and AV_PKT_FLAG_KEY is set for key frames.
struct UnitBatch {
    std::vector<PacketPtr> units;
    uint64_t found = 0;    // access units recognised in this call
    uint64_t dropped = 0;  // of those, not passed on (waiting for a key frame, too large)
};

class UnitSplitter {
  public:
    UnitSplitter();
    ~UnitSplitter();
    UnitSplitter(const UnitSplitter&) = delete;
    UnitSplitter& operator=(const UnitSplitter&) = delete;

    bool Open();
    // The codec of the data that follows (MV_CODEC_*): drops the unit being assembled and
    // waits for a key frame of the new codec. False when no parser exists for it.
    bool SetCodec(int codec);
    int codec() const { return codec_; }
    // Parses one piece of the stream; complete access units go to *out.
    void Feed(const uint8_t* data, size_t length, int64_t tag, UnitBatch* out);

  private:
    struct Piece {
        int64_t begin = 0;
        int64_t end = 0;
        int64_t tag = 0;
    };

    bool ResetParser();
    void Parse(const uint8_t* data, size_t length, UnitBatch* out);
    void Emit(const uint8_t* data, int size, UnitBatch* out);
    int64_t TagAt(int64_t offset) const;

    int codec_ = 0;  // MV_CODEC_H264
    AVCodecParserContext* parser_ = nullptr;
    AVCodecContext* parserCtx_ = nullptr;
    int64_t offset_ = 0;     // bytes handed to the parser so far
    int64_t unitStart_ = 0;  // where the unit being assembled began
    bool waitKey_ = true;    // nothing is decodable before a key frame
    int alignedRun_ = 0;     // pieces in a row that began a new access unit
    bool piecesAligned_ = false;
    bool sliceSeen_ = false;  // the current unit has a picture slice (as far as pieces show)
    // The last pieces, to find which one completed a unit; a unit's end is at most a few
    // bytes behind the point where the parser recognises it.
    static constexpr size_t kPieces = 32;
    Piece pieces_[kPieces];
    size_t pieceCount_ = 0;
    uint8_t tail_[2 * 64];  // the end of a piece, padded for the parser
};

// True when data begins with a start code and a NAL unit that may open an access unit of the
// codec (MV_CODEC_*).
bool BeginsAccessUnit(const uint8_t* data, size_t length, int codec = 0);
// True when data holds the start of a picture slice of the codec.
bool ContainsSlice(const uint8_t* data, size_t length, int codec = 0);

}  // namespace movra
