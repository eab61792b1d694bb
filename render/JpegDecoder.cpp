// JPEG pictures through libjpeg: baseline and progressive, colour, grey and CMYK. Errors return
// through longjmp to a clean failure; the library's default handler would end the program.
#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <new>
#include <vector>

// jpeglib.h needs size_t and FILE declared first, and jerror.h after it.
#include <jpeglib.h>
// clang-format off
#include <jerror.h>
// clang-format on

#include "render/Picture.h"

namespace {

// Progressive files may hold any number of scans, each a full pass over the picture; a file
// with more than this is hostile (it would stall the show for minutes) and is refused.
constexpr int kMaxScans = 1000;

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  jpeg_progress_mgr progress;
  bool truncated = false;
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
  ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
  // Warnings are tolerated except a premature end of the data (a cut file, or a frame larger
  // than its data): the library would fill the missing rows with grey and report success.
  const int code = cinfo->err->msg_code;
  if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER)) {
    reinterpret_cast<ErrorManager*>(cinfo->err)->truncated = true;
  }
}

void OnOutput(j_common_ptr) {}

// Every 8 x 8 block of a sequential Huffman-coded scan takes at least two bits (a DC code and
// an end-of-block code, each at least one bit long), and the first scan covers every block of at
// least one component. Data shorter than that cannot be whole, and a cut file is refused anyway:
// refuse it before the full-size picture is made. (Progressive and arithmetic-coded files can
// be far smaller per block, so they are left to the decoder.)
bool DataTooShort(const jpeg_decompress_struct& cinfo, std::size_t size) {
  if (cinfo.progressive_mode || cinfo.arith_code || cinfo.num_components <= 0) return false;
  std::uint64_t fewest = UINT64_MAX;
  for (int c = 0; c < cinfo.num_components; ++c) {
    const jpeg_component_info& ci = cinfo.comp_info[c];
    fewest = std::min<std::uint64_t>(
        fewest, static_cast<std::uint64_t>(ci.width_in_blocks) * ci.height_in_blocks);
  }
  return fewest / 4 > size;
}

void OnProgress(j_common_ptr cinfo) {
  if (cinfo->is_decompressor) {
    j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) OnError(cinfo);
  }
}

// Kept apart from DecodeJpeg so that no object with a destructor lives across setjmp.
int DecodeInto(jpeg_decompress_struct* cinfo, ErrorManager* err, const std::uint8_t* data,
               std::size_t size, Picture* out, std::vector<JSAMPLE>* row) {
  if (setjmp(err->jump) != 0) return -1;
  jpeg_create_decompress(cinfo);
  cinfo->progress = &err->progress;
  jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return -1;
  const bool grey = cinfo->jpeg_color_space == JCS_GRAYSCALE;
  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  cinfo->out_color_space = grey ? JCS_GRAYSCALE : (cmyk ? JCS_CMYK : JCS_RGB);
  const int w = static_cast<int>(cinfo->image_width), h = static_cast<int>(cinfo->image_height);
  if (DataTooShort(*cinfo, size) || !out->Reserve(w, h, false)) return -1;
  jpeg_start_decompress(cinfo);
  const int comps = cinfo->output_components;
  if (static_cast<int>(cinfo->output_width) != w || static_cast<int>(cinfo->output_height) != h ||
      (comps != 1 && comps != 3 && comps != 4)) {
    return -1;
  }
  if (!out->rgb.Create(w, h)) return -1;
  row->resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(comps));
  while (cinfo->output_scanline < cinfo->output_height) {
    const int y = static_cast<int>(cinfo->output_scanline);
    JSAMPROW rows[1] = {row->data()};
    if (jpeg_read_scanlines(cinfo, rows, 1) != 1) return -1;
    if (err->truncated) return -1;
    std::uint32_t* d = out->rgb.Row(y);
    const JSAMPLE* s = row->data();
    for (int x = 0; x < w; ++x, s += comps) {
      std::uint32_t r, g, b;
      if (comps == 1) {
        r = g = b = s[0];
      } else if (comps == 3) {
        r = s[0], g = s[1], b = s[2];
      } else {  // CMYK as Adobe writes it: inverted inks
        r = s[0] * s[3] / 255u, g = s[1] * s[3] / 255u, b = s[2] * s[3] / 255u;
      }
      d[x] = (r << 16) | (g << 8) | b;
    }
  }
  jpeg_finish_decompress(cinfo);
  if (err->truncated) return -1;
  out->bitsPerPixel = grey ? 8 : 24;
  return 0;
}

}  // namespace

int DecodeJpeg(const std::uint8_t* data, std::size_t size, Picture* out) {
  out->Clear();
  if (data == nullptr || size < 4) return -1;
  jpeg_decompress_struct cinfo{};
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  err.pub.output_message = OnOutput;
  err.progress.progress_monitor = OnProgress;
  std::vector<JSAMPLE> row;
  int rc;
  try {
    rc = DecodeInto(&cinfo, &err, data, size, out, &row);
  } catch (const std::bad_alloc&) {
    rc = -1;
  }
  jpeg_destroy_decompress(&cinfo);
  if (rc != 0) out->Clear();
  return rc;
}

int LoadJpegFile(const std::string& path, Picture* out) {
  std::vector<std::uint8_t> bytes;
  if (ReadPictureFile(path, &bytes) != 0) {
    out->Clear();
    return -1;
  }
  return DecodeJpeg(bytes.data(), bytes.size(), out);
}
