#include "tools/jpeg_image.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace qmx {
namespace {

// libjpeg reports fatal errors by calling error_exit, which by default ends
// the process. Ours jumps back to DecodeInto() instead; warnings are recorded
// and end the decode at the next check.
struct ErrorManager {
  jpeg_error_mgr pub;  // first member: libjpeg sees only this part
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool warned;
};

struct ProgressGuard {
  jpeg_progress_mgr pub;  // first member
  int maxScans;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (level < 0 && !err->warned) {
    err->warned = true;
    (*cinfo->err->format_message)(cinfo, err->message);
  }
}

void OutputMessage(j_common_ptr) {}  // nothing goes to stderr

void CheckProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  auto* guard = reinterpret_cast<ProgressGuard*>(cinfo->progress);
  if (d->input_scan_number > guard->maxScans) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "too many scans");
    std::longjmp(err->jump, 1);
  }
}

// Everything between setjmp and a possible longjmp lives in this function
// and has trivial destructors; `out` was made by the caller and is only
// resized here, so a jump never skips a destructor.
bool DecodeInto(jpeg_decompress_struct* cinfo, ErrorManager* err, ProgressGuard* progress,
                const std::uint8_t* data, std::size_t size, const JpegLimits* limits, RgbImage* out) {
  if (setjmp(err->jump)) return false;

  jpeg_create_decompress(cinfo);  // clears everything but err and client_data
  cinfo->progress = &progress->pub;
  jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) {
    std::snprintf(err->message, sizeof err->message, "no picture in the data");
    return false;
  }
  if (err->warned) return false;
  const JDIMENSION w = cinfo->image_width, h = cinfo->image_height;
  if (w == 0 || h == 0 || w > static_cast<JDIMENSION>(limits->maxWidth) ||
      h > static_cast<JDIMENSION>(limits->maxHeight) ||
      std::size_t{w} * h > limits->maxPixels) {
    std::snprintf(err->message, sizeof err->message, "picture too large (%ux%u)", static_cast<unsigned>(w),
                  static_cast<unsigned>(h));
    return false;
  }
  cinfo->out_color_space = JCS_RGB;
  cinfo->scale_num = 1;
  cinfo->scale_denom = 1;
  jpeg_start_decompress(cinfo);
  if (cinfo->output_components != 3 || cinfo->output_width != w || cinfo->output_height != h) {
    std::snprintf(err->message, sizeof err->message, "unexpected output format");
    return false;
  }
  const std::size_t stride = std::size_t{w} * 3;
  out->pixels.resize(stride * h);
  while (cinfo->output_scanline < h) {
    JSAMPROW row = out->pixels.data() + stride * cinfo->output_scanline;
    if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
      std::snprintf(err->message, sizeof err->message, "data ended early");
      return false;
    }
    if (err->warned) return false;
  }
  jpeg_finish_decompress(cinfo);
  if (err->warned) return false;
  out->width = static_cast<int>(w);
  out->height = static_cast<int>(h);
  return true;
}

}  // namespace

Result<RgbImage> DecodeJpeg(std::span<const std::uint8_t> jpeg, const JpegLimits& limits) {
  auto fail = [](const char* why) { return Result<RgbImage>::Fail(Status::BadInput, why); };
  if (jpeg.empty()) return fail("no data");
  if (jpeg.size() > std::numeric_limits<unsigned long>::max()) return fail("too much data");

  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  ErrorManager err;
  std::memset(&err, 0, sizeof err);
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = EmitMessage;
  err.pub.output_message = OutputMessage;
  ProgressGuard progress;
  std::memset(&progress, 0, sizeof progress);
  progress.pub.progress_monitor = CheckProgress;
  progress.maxScans = limits.maxScans;

  RgbImage image;
  const bool ok = DecodeInto(&cinfo, &err, &progress, jpeg.data(), jpeg.size(), &limits, &image);
  jpeg_destroy_decompress(&cinfo);
  if (!ok) return fail(err.message[0] ? err.message : "corrupt picture");
  return image;
}

}  // namespace qmx
