#pragma once

#include <csetjmp>
#include <cstdio> // jpeglib.h uses FILE and size_t without including them
#include <jpeglib.h>

// libjpeg reports a fatal error by calling error_exit, which must not return:
// this manager jumps back to the setjmp on `jump` instead, and prints nothing.
//   JpegErrorJump errors;
//   cinfo.err = errors.install();
//   if (setjmp(errors.jump)) { /* failed: clean up */ }
// Between the setjmp and the end of the libjpeg calls, only trivially
// destructible locals may live in the frames the jump leaves.
struct JpegErrorJump
{
    jpeg_error_mgr manager; // first: libjpeg hands back its address
    std::jmp_buf jump;

    jpeg_error_mgr *install()
    {
        jpeg_std_error(&manager);
        manager.error_exit = leave;
        manager.output_message = stayQuiet;
        return &manager;
    }

    // Gives the work up as a fatal error does (from a progress monitor, say).
    [[noreturn]] static void leave(j_common_ptr info)
    {
        std::longjmp(reinterpret_cast<JpegErrorJump *>(info->err)->jump, 1);
    }

private:
    static void stayQuiet(j_common_ptr) {}
};
