// The text drawer over FreeType (glyphs) and fontconfig (face names).
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SIZES_H
#include FT_TRUETYPE_TABLES_H
#include FT_ADVANCES_H

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/text_drawer.h"

namespace tavolen::platform {

namespace {

// Cache bounds: a drawer that sees more sizes or glyphs than this starts its
// cache over instead of growing without limit.
constexpr size_t kMaxCachedSizes = 32;
constexpr size_t kMaxCachedGlyphs = 4096;
constexpr size_t kMaxCachedGlyphBytes = 8 << 20;  // coverage bytes per size
constexpr size_t kMaxCachedNames = 64;
constexpr int32_t kDefaultCellHeight = 16;
constexpr int32_t kMaxTextCoordinate = 1 << 24;

struct FontFile {
  std::string path;
  int index = 0;
  friend bool operator==(const FontFile&, const FontFile&) = default;
};

// ---- face name resolution (process wide, cached) ----

bool hasNonAscii(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

bool equalsIgnoreCase(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Latin spellings of the common CJK serif system face names.
bool isCjkSerifAlias(const std::string& name) {
  return equalsIgnoreCase(name, "SimSun") || equalsIgnoreCase(name, "NSimSun") ||
         equalsIgnoreCase(name, "SimSun-ExtB");
}

class FontCatalog {
 public:
  static FontCatalog& instance() {
    static FontCatalog catalog;
    return catalog;
  }
  ~FontCatalog() {
    if (config_) FcConfigDestroy(config_);
  }

  // The chosen face first, then the CJK and Latin fallbacks (no duplicates).
  std::vector<FontFile> chain(const std::string& faceName) {
    std::lock_guard lock(mutex_);
    auto it = chains_.find(faceName);
    if (it != chains_.end()) return it->second;
    if (!config_) config_ = FcInitLoadConfigAndFonts();
    std::vector<FontFile> files;
    auto add = [&](const FontFile& f) {
      if (!f.path.empty() && std::find(files.begin(), files.end(), f) == files.end()) files.push_back(f);
    };
    add(primary(faceName));
    if (!cjk_) cjk_ = match("serif", "zh-cn", 0x4E2D);
    if (!latin_) latin_ = match("sans-serif", nullptr, 'A');
    add(*cjk_);
    add(*latin_);
    if (chains_.size() >= kMaxCachedNames) chains_.clear();
    chains_[faceName] = files;
    return files;
  }

 private:
  FontFile primary(const std::string& faceName) {
    if (faceName.empty()) return match("sans-serif", nullptr, 0);
    std::string family;
    FontFile f = match(faceName.c_str(), nullptr, 0, &family);
    bool exact = false;
    if (!family.empty()) exact = equalsIgnoreCase(family, faceName.c_str());
    if (exact) return f;
    // Not installed: a CJK name (or a known CJK serif face) gets a CJK serif
    // face, anything else fontconfig's own substitute.
    if (hasNonAscii(faceName) || isCjkSerifAlias(faceName)) return match("serif", "zh-cn", 0x4E2D);
    return f;
  }

  // Best match for a family (and language); when `mustHave` is non-zero the
  // sorted list is walked for the first font that has that character.
  FontFile match(const char* family, const char* lang, FcChar32 mustHave,
                 std::string* matchedFamily = nullptr) {
    FontFile out;
    if (!config_) return out;
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return out;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    if (lang) FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>(lang));
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(config_, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    auto take = [&](FcPattern* font) {
      FcChar8* file = nullptr;
      int index = 0;
      if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) return false;
      FcPatternGetInteger(font, FC_INDEX, 0, &index);
      out.path = reinterpret_cast<const char*>(file);
      out.index = index;
      if (matchedFamily) {
        // Any of the font's family names counts (localised names included).
        FcChar8* fam = nullptr;
        for (int i = 0; FcPatternGetString(font, FC_FAMILY, i, &fam) == FcResultMatch; ++i) {
          *matchedFamily = reinterpret_cast<const char*>(fam);
          if (equalsIgnoreCase(*matchedFamily, family)) break;
        }
      }
      return true;
    };
    if (mustHave) {
      FcFontSet* set = FcFontSort(config_, pattern, FcFalse, nullptr, &result);
      for (int i = 0; set && i < set->nfont; ++i) {
        FcCharSet* chars = nullptr;
        if (FcPatternGetCharSet(set->fonts[i], FC_CHARSET, 0, &chars) == FcResultMatch &&
            FcCharSetHasChar(chars, mustHave) && take(set->fonts[i]))
          break;
      }
      if (set) FcFontSetDestroy(set);
    } else if (FcPattern* font = FcFontMatch(config_, pattern, &result)) {
      take(font);
      FcPatternDestroy(font);
    }
    FcPatternDestroy(pattern);
    return out;
  }

  std::mutex mutex_;
  FcConfig* config_ = nullptr;
  std::map<std::string, std::vector<FontFile>> chains_;
  std::optional<FontFile> cjk_;
  std::optional<FontFile> latin_;
};

// ---- the drawer ----

struct Glyph {
  std::vector<uint8_t> coverage;  // width × height, 0..255
  int32_t width = 0;
  int32_t height = 0;
  int32_t left = 0;    // from the pen position
  int32_t top = 0;     // from the baseline, upwards
  int32_t advance = 0; // whole pixels
};

struct SizedFont {
  std::vector<FT_Face> faces;  // chain order, not owned
  std::vector<FT_Size> sizes;  // one per face, owned
  int32_t ascent = 0;
  int32_t lineHeight = 0;
  std::unordered_map<char32_t, Glyph> glyphs;
  size_t glyphBytes = 0;
};

class FreeTypeTextDrawer final : public TextDrawer {
 public:
  explicit FreeTypeTextDrawer(FT_Library library) : library_(library) {}
  ~FreeTypeTextDrawer() override {
    clearSizes();
    for (auto& [file, face] : faces_)
      if (face) FT_Done_Face(face);
    FT_Done_FreeType(library_);
  }

  void drawText(PictureSurface& surface, const TextFont& font, std::u32string_view text,
                const WindowRect& requested, TextAlign align, TextColour colour) override {
    SizedFont* sized = sizedFont(font);
    if (!sized) return;
    // Far beyond any surface, a rectangle only needs to stay far away; bounding
    // it keeps the pen arithmetic below from overflowing.
    auto bound = [](int32_t v) { return std::clamp(v, -kMaxTextCoordinate, kMaxTextCoordinate); };
    const WindowRect rect{bound(requested.left), bound(requested.top), bound(requested.right),
                          bound(requested.bottom)};
    const int32_t clipLeft = std::max(rect.left, 0), clipTop = std::max(rect.top, 0);
    const int32_t clipRight = std::min(rect.right, surface.width());
    const int32_t clipBottom = std::min(rect.bottom, surface.height());
    if (clipLeft >= clipRight || clipTop >= clipBottom) return;
    int32_t lineTop = rect.top;
    forEachLine(text, [&](std::u32string_view line) {
      const int32_t width = lineWidth(*sized, line);
      int32_t pen = rect.left;
      if (align == TextAlign::Right) pen = rect.right - width;
      if (align == TextAlign::Centre) pen = rect.left + (rect.width() - width) / 2;
      const int32_t baseline = lineTop + sized->ascent;
      for (char32_t c : line) {
        const Glyph& g = glyph(*sized, c);
        const int32_t gx = pen + g.left, gy = baseline - g.top;
        for (int32_t row = std::max(0, clipTop - gy); row < g.height && gy + row < clipBottom; ++row) {
          uint8_t* out = surface.row(gy + row);
          const uint8_t* cov = g.coverage.data() + static_cast<size_t>(row) * g.width;
          for (int32_t col = std::max(0, clipLeft - gx); col < g.width && gx + col < clipRight; ++col) {
            const uint32_t a = cov[col];
            if (!a) continue;
            uint8_t* p = out + static_cast<ptrdiff_t>(gx + col) * 4;
            p[0] = blend(p[0], colour.blue, a);
            p[1] = blend(p[1], colour.green, a);
            p[2] = blend(p[2], colour.red, a);
          }
        }
        pen += g.advance;
      }
      lineTop += sized->lineHeight;
    });
  }

  WindowSize measureText(const TextFont& font, std::u32string_view text) override {
    SizedFont* sized = sizedFont(font);
    if (!sized) return {};
    WindowSize size;
    forEachLine(text, [&](std::u32string_view line) {
      size.width = std::max(size.width, lineWidth(*sized, line));
      size.height += sized->lineHeight;
    });
    return size;
  }

 private:
  static uint8_t blend(uint8_t under, uint8_t over, uint32_t alpha) {
    return static_cast<uint8_t>((over * alpha + under * (255 - alpha) + 127) / 255);
  }

  template <typename Fn>
  static void forEachLine(std::u32string_view text, Fn&& fn) {
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find(U'\n', start);
      if (end == std::u32string_view::npos) end = text.size();
      std::u32string_view line = text.substr(start, end - start);
      if (!line.empty() && line.back() == U'\r') line.remove_suffix(1);
      fn(line);
      start = end + 1;
    }
  }

  int32_t lineWidth(SizedFont& sized, std::u32string_view line) {
    int32_t w = 0;
    for (char32_t c : line) w += glyph(sized, c).advance;
    return w;
  }

  FT_Face face(const FontFile& file) {
    const std::string key = file.path + '\n' + std::to_string(file.index);
    auto it = faces_.find(key);
    if (it != faces_.end()) return it->second;
    FT_Face f = nullptr;
    if (FT_New_Face(library_, file.path.c_str(), file.index, &f) != 0) f = nullptr;
    faces_[key] = f;
    return f;
  }

  void clearSizes() {
    for (auto& [key, sized] : sized_)
      for (FT_Size s : sized.sizes) FT_Done_Size(s);
    sized_.clear();
  }

  SizedFont* sizedFont(const TextFont& request) {
    const int32_t height = std::clamp(request.height, -kMaxFontPixels, kMaxFontPixels);
    const int32_t width = std::abs(std::clamp(request.width, -kMaxFontPixels, kMaxFontPixels));
    const std::string key = request.faceName + '\n' + std::to_string(height) + 'x' + std::to_string(width);
    auto it = sized_.find(key);
    if (it != sized_.end()) return &it->second;
    if (sized_.size() >= kMaxCachedSizes) clearSizes();

    std::vector<FT_Face> chain;
    for (const FontFile& f : FontCatalog::instance().chain(request.faceName))
      if (FT_Face fc = face(f)) chain.push_back(fc);
    if (chain.empty()) return nullptr;

    // Cell metrics of the chosen face, in font units.
    FT_Face primary = chain.front();
    const double upem = primary->units_per_EM ? primary->units_per_EM : 1000;
    double ascentUnits = primary->ascender, descentUnits = -primary->descender;
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(primary, FT_SFNT_OS2));
        os2 && os2->usWinAscent + os2->usWinDescent > 0) {
      ascentUnits = os2->usWinAscent;
      descentUnits = os2->usWinDescent;
    }
    if (ascentUnits + descentUnits <= 0) {
      ascentUnits = upem * 0.8;
      descentUnits = upem * 0.2;
    }
    const double cellUnits = ascentUnits + descentUnits;
    double emPixels;
    if (height > 0) emPixels = height * upem / cellUnits;
    else if (height < 0) emPixels = -height;
    else emPixels = kDefaultCellHeight * upem / cellUnits;
    double emWidthPixels = emPixels;
    if (width > 0) {
      // Average width: the lowercase Latin letters' mean advance.
      double sum = 0;
      int count = 0;
      for (char c = 'a'; c <= 'z'; ++c) {
        FT_UInt gi = FT_Get_Char_Index(primary, static_cast<FT_ULong>(c));
        FT_Fixed adv = 0;
        if (gi && FT_Get_Advance(primary, gi, FT_LOAD_NO_SCALE, &adv) == 0 && adv > 0) {
          sum += static_cast<double>(adv);
          ++count;
        }
      }
      const double avgUnits = count ? sum / count : upem / 2;
      emWidthPixels = width * upem / avgUnits;
    }
    emPixels = std::clamp(emPixels, 1.0, 2.0 * kMaxFontPixels);
    emWidthPixels = std::clamp(emWidthPixels, 1.0, 2.0 * kMaxFontPixels);

    SizedFont sized;
    for (FT_Face fc : chain) {
      FT_Size size = nullptr;
      if (FT_New_Size(fc, &size) != 0) continue;
      FT_Activate_Size(size);
      if (FT_Set_Char_Size(fc, static_cast<FT_F26Dot6>(emWidthPixels * 64 + 0.5),
                           static_cast<FT_F26Dot6>(emPixels * 64 + 0.5), 72, 72) != 0) {
        FT_Done_Size(size);
        continue;
      }
      sized.faces.push_back(fc);
      sized.sizes.push_back(size);
    }
    if (sized.faces.empty()) return nullptr;
    sized.ascent = static_cast<int32_t>(ascentUnits * emPixels / upem + 0.5);
    sized.lineHeight =
        height > 0 ? height : std::max(1, static_cast<int32_t>(cellUnits * emPixels / upem + 0.5));
    return &sized_.emplace(key, std::move(sized)).first->second;
  }

  const Glyph& glyph(SizedFont& sized, char32_t c) {
    auto it = sized.glyphs.find(c);
    if (it != sized.glyphs.end()) return it->second;
    if (sized.glyphs.size() >= kMaxCachedGlyphs || sized.glyphBytes >= kMaxCachedGlyphBytes) {
      sized.glyphs.clear();
      sized.glyphBytes = 0;
    }
    Glyph g;
    size_t which = 0;
    FT_UInt index = 0;
    for (size_t i = 0; i < sized.faces.size() && !index; ++i) {
      index = FT_Get_Char_Index(sized.faces[i], c);
      if (index) which = i;
    }
    FT_Face f = sized.faces[which];
    FT_Activate_Size(sized.sizes[which]);
    if (FT_Load_Glyph(f, index, FT_LOAD_DEFAULT) == 0 &&
        FT_Render_Glyph(f->glyph, FT_RENDER_MODE_NORMAL) == 0) {
      const FT_Bitmap& bm = f->glyph->bitmap;
      g.width = static_cast<int32_t>(bm.width);
      g.height = static_cast<int32_t>(bm.rows);
      g.left = f->glyph->bitmap_left;
      g.top = f->glyph->bitmap_top;
      g.advance = static_cast<int32_t>((f->glyph->advance.x + 32) >> 6);
      if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.buffer) {
        g.coverage.resize(static_cast<size_t>(g.width) * g.height);
        for (int32_t r = 0; r < g.height; ++r)
          std::memcpy(g.coverage.data() + static_cast<size_t>(r) * g.width, bm.buffer + r * bm.pitch,
                      static_cast<size_t>(g.width));
      } else if (bm.pixel_mode == FT_PIXEL_MODE_MONO && bm.buffer) {
        // Faces with hand-drawn bitmaps for small sizes (the CJK caption
        // faces among them) give one bit a pixel at those sizes.
        g.coverage.resize(static_cast<size_t>(g.width) * g.height);
        for (int32_t r = 0; r < g.height; ++r) {
          const uint8_t* bits = bm.buffer + r * bm.pitch;
          for (int32_t col = 0; col < g.width; ++col)
            g.coverage[static_cast<size_t>(r) * g.width + col] = (bits[col >> 3] >> (7 - (col & 7))) & 1 ? 255 : 0;
        }
      } else {
        g.width = g.height = 0;
      }
    }
    sized.glyphBytes += g.coverage.size();
    return sized.glyphs.emplace(c, std::move(g)).first->second;
  }

  FT_Library library_;
  std::unordered_map<std::string, FT_Face> faces_;
  std::unordered_map<std::string, SizedFont> sized_;
};

}  // namespace

std::unique_ptr<TextDrawer> createTextDrawer() {
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) return nullptr;
  return std::make_unique<FreeTypeTextDrawer>(library);
}

std::string resolvedFontFile(const std::string& faceName) {
  const auto chain = FontCatalog::instance().chain(faceName);
  return chain.empty() ? std::string() : chain.front().path;
}

}  // namespace tavolen::platform
