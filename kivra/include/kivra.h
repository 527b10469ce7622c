/* Kivra: MPEG-2 transport stream preview decoder.
 *
 * The library holds one open recording at a time. TsRead decodes, on a
 * thread of its own, the first I picture of the video PID at or after a byte
 * position, converts it to a 24-bit bottom-up BGR bitmap and hands it to the
 * host's draw callback. Window handles are opaque to the library: they are
 * only passed back to the host callbacks.
 *
 * Every export returns 1 on success, -1 for a missing record and 0 when
 * waiting for the previous decode failed; TsOpen returns the SIMD level. */
#ifndef KIVRA_H
#define KIVRA_H

#include <stdint.h>

#if defined(KIVRA_BUILDING)
#define KIVRA_API __attribute__((visibility("default")))
#else
#define KIVRA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Message posted to the notify window when the drawing window should be
 * resized: wParam the window, lParam width << 16 | height. */
#define KIVRA_MSG_RESIZE 0x1403

/* Stretch modes handed to the draw callback (the platform's values). */
#define KIVRA_STRETCH_NONE 0 /* unscaled copy to the top-left corner */
#define KIVRA_STRETCH_BLACKONWHITE 1
#define KIVRA_STRETCH_COLORONCOLOR 3
#define KIVRA_STRETCH_HALFTONE 4

/* Destination width/height passed to the draw callback for an unscaled copy. */
#define KIVRA_UNSCALED 0

typedef void* KivraWindow;

typedef struct TavrelDecInit {
    const char* path;          /* stream file; read during the call only */
    KivraWindow notifyWindow;  /* receives the resize request */
    KivraWindow previewWindow; /* picture area inside the main window */
    KivraWindow outWindow;     /* separate output picture window */
    int32_t windowMode;        /* 1: draw into outWindow, else previewWindow */
} TavrelDecInit;

typedef struct TavrelDecRead {
    int64_t position; /* byte offset where the picture search starts */
    int32_t videoPid;
    int32_t displayWidth;   /* 0: coded size, unscaled */
    int32_t windowMode;     /* 1: outWindow, 0: previewWindow, else unchanged */
    int32_t aspectMode;     /* 9: from the stream, 3: 16:9, else 4:3 */
    int32_t stretchQuality; /* 1: fast, 2: smooth, else automatic */
} TavrelDecRead;

/* Decoded planes of the picture about to be drawn (optional host hook). */
typedef struct TavrelDecFrame {
    const uint8_t* planes[3]; /* Y, Cb, Cr */
    int32_t strides[3];
    int32_t codedWidth, codedHeight;
    int32_t width, height; /* horizontal_size, vertical_size */
    int32_t chromaFormat;  /* 1: 4:2:0, 2: 4:2:2 */
    int32_t aspectRatioCode;
    int32_t progressiveFrame;
} TavrelDecFrame;

typedef struct TavrelDecHost {
    void* user;
    /* Draws the bitmap (40-byte BITMAPINFOHEADER layout, BGR rows bottom-up)
     * into window: stretched to destWidth x destHeight with stretchMode, or
     * unscaled at 0,0 when stretchMode is KIVRA_STRETCH_NONE. */
    void (*draw)(void* user, KivraWindow window, const uint8_t* header40, const uint8_t* pixels, int32_t destWidth,
                 int32_t destHeight, int32_t stretchMode);
    /* Posts KIVRA_MSG_RESIZE (never blocks on the host). */
    void (*postResize)(void* user, KivraWindow notifyWindow, KivraWindow window, uint32_t packedWidthHeight);
    /* Dialog frame width (one side) added to the output window's size. */
    int32_t dialogFrameWidth;
    /* Optional: called with the decoded planes just before conversion. */
    void (*frame)(void* user, const TavrelDecFrame* frame);
} TavrelDecHost;

KIVRA_API int SetHostCallbacks(const TavrelDecHost* host);
KIVRA_API int TsOpen(const TavrelDecInit* init);
KIVRA_API int TsRead(const TavrelDecRead* read);
KIVRA_API int TsClose(void);
KIVRA_API int UpdateVideo(const TavrelDecRead* read);
KIVRA_API int SetPackSize(int size);

#ifdef __cplusplus
}
#endif

#endif /* KIVRA_H */
