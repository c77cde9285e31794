// Build step: draws the program's icon (32 pixels, 256 colours) and
// writes it as an .ico file, so no binary picture lives in the sources. One
// image only: Windows scales it down for the title bar and the task bar's
// small icon, and a second, 16-pixel image would cost the stub 1.1 KB.
//
//   gen-icon OUT.ico
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void Put16(std::vector<uint8_t>& v, unsigned x) {
  v.push_back(x & 0xFF);
  v.push_back((x >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}

// Coverage of a rounded square, a downward arrow and a base line, sampled
// 4x4 per pixel for smooth edges inside the square. The image has 256
// palette colours and a one-bit mask (a pixel less than half covered is
// transparent): half the bytes of a 32-bit image with alpha, and Windows XP
// shows it the same way. Returns the header, palette, rows bottom-up and mask.
std::vector<uint8_t> Image(int n) {
  std::vector<uint8_t> out;
  Put32(out, 40), Put32(out, n), Put32(out, 2 * n), Put16(out, 1), Put16(out, 8);
  for (int i = 0; i < 6; ++i) Put32(out, 0);
  std::vector<uint32_t> palette(1, 0);  // index 0: under the mask
  std::vector<uint8_t> pixels;
  const int maskRow = ((n + 31) / 32) * 4;
  std::vector<uint8_t> mask(static_cast<size_t>(maskRow) * n, 0);
  const double r = n * 0.22;
  for (int y = n - 1; y >= 0; --y) {
    for (int x = 0; x < n; ++x) {
      double bg = 0, fg = 0;
      for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
          const double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
          const double cx = std::fmin(std::fmax(px, r), n - r), cy = std::fmin(std::fmax(py, r), n - r);
          if (std::hypot(px - cx, py - cy) > r) continue;
          bg += 1;
          const double u = px / n, v = py / n;
          const bool shaft = std::fabs(u - 0.5) < 0.09 && v > 0.16 && v < 0.52;
          const bool head = v >= 0.46 && v < 0.70 && std::fabs(u - 0.5) < (0.70 - v) * 1.1;
          const bool base = v > 0.76 && v < 0.85 && u > 0.22 && u < 0.78;
          if (shaft || head || base) fg += 1;
        }
      }
      if (bg < 8) {  // transparent: mask bit set, colour 0
        mask[static_cast<size_t>(n - 1 - y) * maskRow + x / 8] |= 0x80 >> (x % 8);
        pixels.push_back(0);
        continue;
      }
      // Arrow coverage in 7 steps keeps the palette within 256 colours.
      const double f = std::lround(fg / bg * 7) / 7.0;
      const double t = f == 1 ? 0 : double(y) / n;  // top-to-bottom gradient
      const double b0 = 0xF0 - 0x30 * t, g0 = 0x90 - 0x28 * t, r0 = 0x1E - 0x08 * t;
      auto mix = [&](double c) { return static_cast<uint32_t>(std::lround(c * (1 - f) + 255 * f)); };
      const uint32_t colour = mix(b0) | mix(g0) << 8 | mix(r0) << 16;
      size_t i = 1;
      while (i < palette.size() && palette[i] != colour) ++i;
      if (i == palette.size()) palette.push_back(colour);
      if (i > 255) {
        std::fprintf(stderr, "gen-icon: more than 256 colours\n");
        std::exit(1);
      }
      pixels.push_back(static_cast<uint8_t>(i));
    }
  }
  palette.resize(256, 0);
  for (uint32_t c : palette) Put32(out, c);
  out.insert(out.end(), pixels.begin(), pixels.end());
  out.insert(out.end(), mask.begin(), mask.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gen-icon OUT.ico\n");
    return 1;
  }
  const int sizes[] = {32};
  constexpr size_t kCount = sizeof sizes / sizeof sizes[0];
  std::vector<std::vector<uint8_t>> images;
  for (int n : sizes) images.push_back(Image(n));
  std::vector<uint8_t> ico;
  Put16(ico, 0), Put16(ico, 1), Put16(ico, kCount);
  uint32_t offset = 6 + 16 * kCount;
  for (size_t i = 0; i < kCount; ++i) {
    ico.push_back(static_cast<uint8_t>(sizes[i]));
    ico.push_back(static_cast<uint8_t>(sizes[i]));
    ico.push_back(0), ico.push_back(0);
    Put16(ico, 1), Put16(ico, 8);
    Put32(ico, static_cast<uint32_t>(images[i].size())), Put32(ico, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (auto& img : images) ico.insert(ico.end(), img.begin(), img.end());
  FILE* f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(ico.data(), 1, ico.size(), f) != ico.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "gen-icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
