#include "UnitSplitter.h"

#include <algorithm>
#include <cstring>

#include "movra.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace movra {

namespace {

// Pieces that began an access unit, in a row, before the sender is trusted to end every
// piece on a unit boundary.
constexpr int kTrustAfter = 3;
// The parser buffers what it is given until it sees a boundary; feed it in slices so that
// input without boundaries is noticed before it grows far past the unit limit.
constexpr size_t kParseSlice = 256 * 1024;
// An access unit delimiter: the parser takes it as the start of the next unit, so feeding one
// hands over the unit assembled so far at once. The decoder ignores it.
constexpr uint8_t kDelimiter[] = {0, 0, 0, 1, 0x09, 0xf0};
constexpr uint8_t kDelimiterHevc[] = {0, 0, 0, 1, 0x46, 0x01, 0x50};

AVCodecID CodecId(int codec) {
    return codec == MV_CODEC_H265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
}

bool BeginsAccessUnitHevc(const uint8_t* data, size_t i, size_t length) {
    // Two header bytes: forbidden bit, six bits of type, then layer and temporal id.
    if (i + 2 >= length || (data[i + 1] & 0x80))
        return false;
    const int type = (data[i + 1] >> 1) & 0x3f;
    switch (type) {
        case 32:  // video parameter set
        case 33:  // sequence parameter set
        case 34:  // picture parameter set
        case 35:  // access unit delimiter
        case 39:  // prefix SEI
            return true;
        default:
            // A picture's first slice segment: first_slice_segment_in_pic_flag leads the
            // slice header.
            return type < 32 && i + 3 < length && (data[i + 3] & 0x80);
    }
}

}  // namespace

void PacketDeleter::operator()(AVPacket* p) const {
    av_packet_free(&p);
}

bool BeginsAccessUnit(const uint8_t* data, size_t length, int codec) {
    size_t i = 0;
    while (i < length && data[i] == 0) ++i;
    if (i < 2 || i + 1 >= length || data[i] != 1)
        return false;
    if (codec == MV_CODEC_H265)
        return BeginsAccessUnitHevc(data, i, length);
    const uint8_t header = data[i + 1];
    if (header & 0x80)
        return false;
    switch (header & 0x1f) {
        case 6:  // SEI
        case 7:  // sequence parameter set
        case 8:  // picture parameter set
        case 9:  // access unit delimiter
            return true;
        case 1:  // slice
        case 5:  // IDR slice: first_mb_in_slice == 0 is the single bit '1'
            return i + 2 < length && (data[i + 2] & 0x80);
        default:
            return false;
    }
}

bool ContainsSlice(const uint8_t* data, size_t length, int codec) {
    for (size_t i = 2; i + 1 < length; ++i) {
        const void* one = std::memchr(data + i, 1, length - 1 - i);
        if (!one)
            return false;
        i = static_cast<size_t>(static_cast<const uint8_t*>(one) - data);
        if (data[i - 1] == 0 && data[i - 2] == 0) {
            if (codec == MV_CODEC_H265) {
                if (((data[i + 1] >> 1) & 0x3f) < 32)
                    return true;
                continue;
            }
            const int type = data[i + 1] & 0x1f;
            if (type == 1 || type == 5)
                return true;
        }
    }
    return false;
}

UnitSplitter::UnitSplitter() = default;

UnitSplitter::~UnitSplitter() {
    av_parser_close(parser_);
    avcodec_free_context(&parserCtx_);
}

bool UnitSplitter::Open() {
    return ResetParser();
}

bool UnitSplitter::ResetParser() {
    av_parser_close(parser_);
    parser_ = nullptr;
    avcodec_free_context(&parserCtx_);
    parser_ = av_parser_init(CodecId(codec_));
    parserCtx_ = avcodec_alloc_context3(nullptr);
    if (!parser_ || !parserCtx_)
        return false;
    parserCtx_->codec_type = AVMEDIA_TYPE_VIDEO;
    parserCtx_->codec_id = CodecId(codec_);
    unitStart_ = offset_;
    return true;
}

bool UnitSplitter::SetCodec(int codec) {
    if (codec == codec_ && parser_)
        return true;
    codec_ = codec;
    waitKey_ = true;
    alignedRun_ = 0;
    piecesAligned_ = false;
    sliceSeen_ = false;
    return ResetParser();
}

void UnitSplitter::Feed(const uint8_t* data, size_t length, int64_t tag, UnitBatch* out) {
    if (!length || !parser_)
        return;
    // Evidence that the sender ends its pieces on unit boundaries: a piece that opens a new
    // unit after one with a picture in it. Pieces that carry only what precedes a picture
    // (parameter sets) prove nothing; a piece that starts anywhere else disproves it.
    if (!BeginsAccessUnit(data, length, codec_)) {
        // The unit handed over at the end of the previous piece was cut short: what follows
        // refers to a damaged picture, so wait for the next key frame.
        if (piecesAligned_)
            waitKey_ = true;
        alignedRun_ = 0;
    } else if (sliceSeen_) {
        alignedRun_ = std::min(alignedRun_ + 1, kTrustAfter);
        sliceSeen_ = false;
    }
    sliceSeen_ = sliceSeen_ || ContainsSlice(data, length, codec_);
    piecesAligned_ = alignedRun_ >= kTrustAfter;

    pieces_[pieceCount_++ % kPieces] = Piece{offset_, offset_ + static_cast<int64_t>(length), tag};
    Parse(data, length, out);
    if (piecesAligned_ && codec_ == MV_CODEC_H265)
        Parse(kDelimiterHevc, sizeof kDelimiterHevc, out);
    else if (piecesAligned_)
        Parse(kDelimiter, sizeof kDelimiter, out);
}

void UnitSplitter::Parse(const uint8_t* data, size_t length, UnitBatch* out) {
    static_assert(sizeof tail_ >= 2 * AV_INPUT_BUFFER_PADDING_SIZE);
    while (length > 0 && parser_) {
        // The parser reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past what it is given:
        // give it the caller's bytes only while that many more follow, and the last few from
        // a padded copy.
        const uint8_t* source = data;
        size_t slice = 0;
        if (length > AV_INPUT_BUFFER_PADDING_SIZE) {
            slice = std::min(length - AV_INPUT_BUFFER_PADDING_SIZE, kParseSlice);
        } else {
            std::memcpy(tail_, data, length);
            std::memset(tail_ + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
            source = tail_;
            slice = length;
        }
        uint8_t* unit = nullptr;
        int unitSize = 0;
        int used =
            av_parser_parse2(parser_, parserCtx_, &unit, &unitSize, source, static_cast<int>(slice),
                             AV_NOPTS_VALUE, AV_NOPTS_VALUE, offset_);
        used = std::clamp(used, 0, static_cast<int>(slice));
        data += used;
        length -= static_cast<size_t>(used);
        offset_ += used;
        if (unitSize > 0)
            Emit(unit, unitSize, out);
        else if (used == 0)
            break;  // the parser made no progress; never spin on it
        if (offset_ - unitStart_ > MV_MAX_UNIT_BYTES) {
            // No unit boundary for far too long: garbage, or a unit nobody should send.
            ++out->dropped;
            waitKey_ = true;
            if (!ResetParser())
                return;
        }
    }
}

void UnitSplitter::Emit(const uint8_t* data, int size, UnitBatch* out) {
    const int64_t end = parser_->next_frame_offset;
    unitStart_ = end;
    ++out->found;
    const bool key = parser_->key_frame == 1;
    if ((waitKey_ && !key) || size > MV_MAX_UNIT_BYTES) {
        ++out->dropped;
        waitKey_ = waitKey_ || size > MV_MAX_UNIT_BYTES;
        return;
    }
    PacketPtr packet(av_packet_alloc());
    if (!packet || av_new_packet(packet.get(), size) < 0) {
        ++out->dropped;
        waitKey_ = true;  // the units after this one refer to it
        return;
    }
    waitKey_ = false;
    std::memcpy(packet->data, data, static_cast<size_t>(size));
    // The tag of the call that brought the unit's last byte. The H.265 parser counts the
    // first zero of the next start code into the unit; zeros never end a NAL unit.
    int64_t last = end - 1;
    for (int i = size - 1; i > 0 && data[i] == 0; --i) --last;
    packet->pts = TagAt(last);
    packet->stream_index = codec_;
    if (key)
        packet->flags |= AV_PKT_FLAG_KEY;
    out->units.push_back(std::move(packet));
}

int64_t UnitSplitter::TagAt(int64_t offset) const {
    const size_t n = std::min(pieceCount_, kPieces);
    for (size_t k = 1; k <= n; ++k) {
        const Piece& p = pieces_[(pieceCount_ - k) % kPieces];
        if (p.begin <= offset && offset < p.end)
            return p.tag;
    }
    return 0;
}

}  // namespace movra
