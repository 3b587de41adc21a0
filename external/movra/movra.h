// Stream player: takes a camera's H.264 or H.265 stream (Annex B) in whatever pieces it arrives,
// decodes it on the port's own thread and hands the newest picture, scaled to the target's
// size with black bars where the aspect ratio differs, to a render sink the program provides.
//
// Use: MV_OpenStream, MV_SetStreamCodec for H.265, MV_PlayEx or MV_PlayInto,
// MV_VideoInputData (any number of times), MV_VideoClose.
//
// Ports. A fixed table of MV_MAX_PORTS slots; a slot is reused after its port is closed, but
// under a new port number (slot + MV_MAX_PORTS * generation), so a stale port number of a
// closed stream is refused instead of feeding the stream that took over its slot.
//
// Input. MV_VideoInputData never waits for the decoder: it splits the data into access
// units and queues them. The queue holds at most MV_QUEUE_MAX_UNITS units and
// MV_QUEUE_MAX_BYTES bytes; when it is full the player drops whole access units up to the
// next key frame (which then replaces whatever is still queued), so it neither grows nor
// stalls. An access unit larger than MV_MAX_UNIT_BYTES is dropped the same way. Until the
// first key frame nothing is decoded. When each call ends on an access-unit boundary (as the
// SDK delivers the stream), a picture is decoded as soon as its call returns, once a few calls
// have shown that the sender does so; with other splits the player recognises the end of an
// access unit only at the start of the next one.
//
// Output. Decoding and drawing run on the port's thread. The program either copies each
// picture out of the player's image (MV_PlayEx) or lets the player draw straight into an image
// of the program's (MV_PlayInto). Pictures that a newer one replaces before it can be shown
// are not converted. Damaged input is counted and skipped; the port shows pictures again from
// the next key frame. One kind of damage only H.264 reveals: an access unit cut short inside its
// slice data that the sender still hands over as whole. FFmpeg's H.265 decoder reports no error
// for it, so that picture and those referring to it up to the next key frame can show damaged.
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#define MV_API __stdcall
#else
#define MV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define MV_MAX_PORTS 32
#define MV_QUEUE_MAX_UNITS 30
#define MV_QUEUE_MAX_BYTES (8 * 1024 * 1024)
#define MV_MAX_UNIT_BYTES (8 * 1024 * 1024)
// Larger target sizes are clamped to this.
#define MV_MAX_TARGET_SIDE 8192

// Result codes: 0 success, negative failure.
#define MV_OK 0
#define MV_ERR_NO_PORT (-1)   // MV_OpenStream: every port is in use
#define MV_ERR_BAD_PORT (-2)  // not a port number this player hands out
#define MV_ERR_NOT_OPEN (-3)  // port closed, being closed, or reused by a newer stream
#define MV_ERR_BAD_ARGUMENT \
    (-4)                          // null pointer where data is required, sink without present,
                                  // target without lock or unlock
#define MV_ERR_NO_RESOURCES (-5)  // out of memory or threads, or no decoder for the codec
#define MV_ERR_IN_CALLBACK \
    (-6)  // MV_VideoClose, MV_PlayEx or MV_PlayInto called from the
          // port's own sink or target
#define MV_ERR_NO_PICTURE (-7)  // MV_GetLastFrame: nothing decoded yet

// One picture for the sink. The pixels cover the whole target: the video, centred and scaled
// with its aspect ratio kept, and black bars where the shapes differ. 32-bit pixels
// 0xffRRGGBB (the layout of QImage::Format_RGB32). Valid only during the present call.
typedef struct MV_Picture {
    const uint32_t* pixels;  // top-left pixel of the target
    int32_t width;           // target size in pixels
    int32_t height;
    int32_t stride;  // bytes from one row to the next
    int64_t tag;     // tag of the access unit this picture was decoded from (0 if untagged)
    int32_t videoX;  // where the video lies inside the target
    int32_t videoY;
    int32_t videoWidth;
    int32_t videoHeight;
    int32_t sourceWidth;  // decoded picture size
    int32_t sourceHeight;
} MV_Picture;

// Where a port's pictures go. Both functions are called on the port's thread, never at the
// same time for one port. MV_PlayEx and MV_VideoClose wait for a running call, so the
// functions must not wait for a thread that may be making those calls (the UI thread),
// and calling them for the same port from inside the sink is refused (MV_ERR_IN_CALLBACK).
typedef struct MV_RenderSink {
    void* user;
    // The target's current size in pixels. May be called before every picture, so it must be
    // cheap and thread-safe. Null: pictures come at their decoded size. A size of 0 (a hidden
    // target) skips drawing.
    void (*size)(void* user, int32_t* width, int32_t* height);
    // Receives one picture; copy the pixels before returning.
    void (*present)(void* user, const MV_Picture* picture);
} MV_RenderSink;

// An image the program owns and lets the player draw into: the player then keeps no picture of
// its own and the program copies none. Both functions are called on the port's thread, never at
// the same time for one port, with the same rules as MV_RenderSink's.
//   lock: takes the program's lock on the image and describes it in *image (the whole image
//     is the target: its size is the target's size). Until unlock the image must keep its
//     address and size and nothing else may touch it. Returns 0 to skip this picture (a hidden
//     target, no memory): the program's lock is then not held and unlock is not called.
//   unlock: the drawing is over; picture describes it (pixels point into the image), or is null
//     when the picture could not be drawn (the image is left as it was). Then the program's
//     lock is let go.
// Every picture covers the whole target, bars included, whatever the image held before. The
// drawing runs under the program's lock (under a millisecond for a quarter of a 1080p screen),
// so whatever else takes that lock (the paint) may wait that long. The program must not hold
// that lock while it calls MV_PlayEx, MV_PlayInto or MV_VideoClose for the port: they wait for
// a running drawing, which waits for the lock. Images larger than MV_MAX_TARGET_SIDE are drawn
// only in their top-left part of that size.
typedef struct MV_Image {
    uint32_t* pixels;  // top-left pixel
    int32_t width;
    int32_t height;
    int32_t stride;  // bytes from one row to the next, at least width * 4
} MV_Image;

typedef struct MV_DrawTarget {
    void* user;
    int32_t (*lock)(void* user, MV_Image* image);
    void (*unlock)(void* user, const MV_Picture* picture);
} MV_DrawTarget;

// Counters of one port since it was opened.
typedef struct MV_Stats {
    uint64_t bytesIn;            // bytes accepted by MV_VideoInputData
    uint64_t unitsIn;            // access units found in the input
    uint64_t unitsDropped;       // access units not decoded: queue full, waiting for a key frame
    uint64_t picturesDecoded;    // pictures out of the decoder
    uint64_t picturesPresented;  // pictures handed to the sink
    uint64_t picturesSkipped;    // decoded pictures replaced by a newer one before display
    uint64_t decodeErrors;       // access units the decoder refused
    uint32_t queuedUnits;        // access units waiting now
    uint32_t queuedBytes;
} MV_Stats;

// Opens a port for one stream, H.264 until MV_SetStreamCodec says otherwise, and starts its
// thread. Both arguments are reserved
// (pass 0). Returns the port (0 or more) or MV_ERR_NO_PORT / MV_ERR_NO_RESOURCES.
int32_t MV_API MV_OpenStream(int32_t reserved1, int32_t reserved2);

// From now on the port's pictures go to *window (copied; the struct itself need not stay
// alive). Null detaches the current sink. Returns once no picture can reach the previous sink.
int32_t MV_API MV_PlayEx(int32_t port, const MV_RenderSink* window);

// The same with a target the player draws into (see MV_DrawTarget); replaces a sink given to
// MV_PlayEx and the other way round. Null detaches. Returns once the previous sink or target
// can no longer be called.
int32_t MV_API MV_PlayInto(int32_t port, const MV_DrawTarget* target);

// Stream data in any split. Copies what it needs and returns without waiting for decoding;
// safe to call from any thread. Data for a closed or closing port is dropped
// (MV_ERR_NOT_OPEN). Dropping by a full queue still returns MV_OK (see MV_Stats).
int32_t MV_API MV_VideoInputData(int32_t port, const uint8_t* data, uint32_t length);
// The same, with a tag handed back in MV_Picture::tag for the picture decoded from the access
// unit whose last byte came in this call.
int32_t MV_API MV_VideoInputDataTagged(int32_t port, const uint8_t* data, uint32_t length,
                                       int64_t tag);

// Stops the port's thread and releases the port. Returns once no call into the sink or target
// runs or will run; data arriving meanwhile or later is dropped.
int32_t MV_API MV_VideoClose(int32_t port);

int32_t MV_API MV_GetStats(int32_t port, MV_Stats* stats);

// The newest decoded picture at its decoded size, whatever the sink or target shows: *width
// and *height receive that size. With image null only the size is given. Otherwise the
// picture is drawn into the top-left width x height pixels of *image (0xffRRGGBB), which
// must be at least that large (MV_ERR_BAD_ARGUMENT, with the size given, when it is not: the
// stream may have changed its size since the caller asked). Safe from any thread but the
// port's own sink or target; the decoder waits while the picture is copied.
// MV_ERR_NO_PICTURE while nothing has been decoded.
int32_t MV_API MV_GetLastFrame(int32_t port, const MV_Image* image, int32_t* width,
                               int32_t* height);

// Stream codecs. A port opens for H.264.
#define MV_CODEC_H264 0
#define MV_CODEC_H265 1

// Sets the codec of the data that follows. A change drops the unit being assembled and
// whatever is queued, and the port shows pictures again from the next key frame of the new
// codec; setting the codec the port already has changes nothing. Safe from any thread, in
// order with MV_VideoInputData calls of the same thread. MV_ERR_BAD_ARGUMENT for an unknown
// codec, MV_ERR_NO_RESOURCES when no decoder exists for it.
int32_t MV_API MV_SetStreamCodec(int32_t port, int32_t codec);

#ifdef __cplusplus
}
#endif
