// Preloaded into a program on X (LD_PRELOAD): notes when its first image went to the X server
// and ends the process there, so that its wall time and peak memory are those of start to first
// frame, whatever the program. The CLOCK_MONOTONIC milliseconds go to the file named by
// QUILLOR_FIRST_FRAME_FILE (quillor_pairs reads them). Qt's xcb platform sends a window's pixels
// with xcb_shm_put_image, or with xcb_image_put, which calls xcb_put_image; the request leaves
// for the server at the next xcb_flush, the moment noted. Nothing polls the program from outside.

#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" {

// libxcb's types as far as these calls need them; the cookie is returned in a register.
struct xcb_connection_t;
struct xcb_void_cookie_t {
    unsigned int sequence;
};

xcb_void_cookie_t xcb_put_image(xcb_connection_t* c, std::uint8_t format, std::uint32_t drawable,
                                std::uint32_t gc, std::uint16_t width, std::uint16_t height,
                                std::int16_t dstX, std::int16_t dstY, std::uint8_t leftPad,
                                std::uint8_t depth, std::uint32_t dataLength,
                                const std::uint8_t* data);
xcb_void_cookie_t xcb_shm_put_image(xcb_connection_t* c, std::uint32_t drawable, std::uint32_t gc,
                                    std::uint16_t totalWidth, std::uint16_t totalHeight,
                                    std::uint16_t srcX, std::uint16_t srcY, std::uint16_t srcWidth,
                                    std::uint16_t srcHeight, std::int16_t dstX, std::int16_t dstY,
                                    std::uint8_t depth, std::uint8_t format, std::uint8_t sendEvent,
                                    std::uint32_t shmseg, std::uint32_t offset);
int xcb_flush(xcb_connection_t* c);
}

namespace {

bool g_imageSent = false;

// The library's own function. Qt loads its xcb platform as a plugin, whose libraries are not in
// the global scope RTLD_NEXT searches; they are loaded by the time it calls us, though.
template <typename Function> Function next(const char* name, const char* library)
{
    void* found = ::dlsym(RTLD_NEXT, name);
    if (!found) {
        if (void* handle = ::dlopen(library, RTLD_LAZY | RTLD_NOLOAD))
            found = ::dlsym(handle, name);
    }
    if (!found) {
        std::fprintf(stderr, "first frame: no %s\n", name);
        std::_Exit(125);
    }
    return reinterpret_cast<Function>(found);
}

// Writes the moment and ends the process without running anything of the program's.
[[noreturn]] void noteAndEnd()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%.3f\n",
                                     double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6);
    const char* path = std::getenv("QUILLOR_FIRST_FRAME_FILE");
    const int fd = path ? ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600) : -1;
    const bool written = fd >= 0 && ::write(fd, text, std::size_t(length)) == length;
    if (fd >= 0)
        ::close(fd);
    ::_exit(written ? 0 : 124);
}

} // namespace

extern "C" {

xcb_void_cookie_t xcb_put_image(xcb_connection_t* c, std::uint8_t format, std::uint32_t drawable,
                                std::uint32_t gc, std::uint16_t width, std::uint16_t height,
                                std::int16_t dstX, std::int16_t dstY, std::uint8_t leftPad,
                                std::uint8_t depth, std::uint32_t dataLength,
                                const std::uint8_t* data)
{
    static const auto real = next<decltype(&xcb_put_image)>("xcb_put_image", "libxcb.so.1");
    g_imageSent = true;
    return real(c, format, drawable, gc, width, height, dstX, dstY, leftPad, depth, dataLength,
                data);
}

xcb_void_cookie_t xcb_shm_put_image(xcb_connection_t* c, std::uint32_t drawable, std::uint32_t gc,
                                    std::uint16_t totalWidth, std::uint16_t totalHeight,
                                    std::uint16_t srcX, std::uint16_t srcY, std::uint16_t srcWidth,
                                    std::uint16_t srcHeight, std::int16_t dstX, std::int16_t dstY,
                                    std::uint8_t depth, std::uint8_t format, std::uint8_t sendEvent,
                                    std::uint32_t shmseg, std::uint32_t offset)
{
    static const auto real =
        next<decltype(&xcb_shm_put_image)>("xcb_shm_put_image", "libxcb-shm.so.0");
    g_imageSent = true;
    return real(c, drawable, gc, totalWidth, totalHeight, srcX, srcY, srcWidth, srcHeight, dstX,
                dstY, depth, format, sendEvent, shmseg, offset);
}

int xcb_flush(xcb_connection_t* c)
{
    static const auto real = next<decltype(&xcb_flush)>("xcb_flush", "libxcb.so.1");
    const int flushed = real(c);
    if (g_imageSent && flushed > 0)
        noteAndEnd();
    return flushed;
}
}
