#include "present/marks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <string>
#include <utility>

#include "present/panel.h"

namespace skav::present {
namespace {

// Colour-vision simulation on the palette, in linear sRGB: the dichromat matrices of Machado,
// Oliveira and Fernandes (2009) at full severity, and greyscale by relative luminance.
// Distances are CIE76 differences in CIELAB (D65).
using Matrix = std::array<std::array<double, 3>, 3>;
using Vec = std::array<double, 3>;

enum class Vision { kNormal, kProtanopia, kDeuteranopia, kTritanopia, kGreyscale };

const char* vision_name(Vision vision) {
  switch (vision) {
    case Vision::kNormal: return "normal";
    case Vision::kProtanopia: return "protanopia";
    case Vision::kDeuteranopia: return "deuteranopia";
    case Vision::kTritanopia: return "tritanopia";
    case Vision::kGreyscale: return "greyscale";
  }
  return "";
}

constexpr Matrix kProtanopia{{{0.152286, 1.052583, -0.204868},
                              {0.114503, 0.786281, 0.099216},
                              {-0.003882, -0.048116, 1.051998}}};
constexpr Matrix kDeuteranopia{{{0.367322, 0.860646, -0.227968},
                                {0.280085, 0.672501, 0.047413},
                                {-0.011820, 0.042940, 0.968881}}};
constexpr Matrix kTritanopia{{{1.255528, -0.076749, -0.178779},
                              {-0.078411, 0.930809, 0.147602},
                              {0.004733, 0.691367, 0.303900}}};

double linear(std::uint8_t channel) {
  const double c = channel / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

Vec linear(Rgb rgb) { return {linear(rgb.red), linear(rgb.green), linear(rgb.blue)}; }

double luminance(const Vec& v) { return 0.2126 * v[0] + 0.7152 * v[1] + 0.0722 * v[2]; }

Vec seen(Rgb rgb, Vision vision) {
  const Vec v = linear(rgb);
  const Matrix* m = nullptr;
  switch (vision) {
    case Vision::kNormal: return v;
    case Vision::kGreyscale: {
      const double y = luminance(v);
      return {y, y, y};
    }
    case Vision::kProtanopia: m = &kProtanopia; break;
    case Vision::kDeuteranopia: m = &kDeuteranopia; break;
    case Vision::kTritanopia: m = &kTritanopia; break;
  }
  Vec out{};
  for (int i = 0; i < 3; ++i)
    out[i] = std::clamp((*m)[i][0] * v[0] + (*m)[i][1] * v[1] + (*m)[i][2] * v[2], 0.0, 1.0);
  return out;
}

Vec lab(const Vec& v) {
  const double x = (0.4124 * v[0] + 0.3576 * v[1] + 0.1805 * v[2]) / 0.95047;
  const double y = 0.2126 * v[0] + 0.7152 * v[1] + 0.0722 * v[2];
  const double z = (0.0193 * v[0] + 0.1192 * v[1] + 0.9505 * v[2]) / 1.08883;
  auto f = [](double t) { return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116; };
  return {116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
}

double difference(Rgb a, Rgb b, Vision vision) {
  const Vec la = lab(seen(a, vision));
  const Vec lb = lab(seen(b, vision));
  return std::hypot(la[0] - lb[0], la[1] - lb[1], la[2] - lb[2]);
}

// Two tones closer than this look alike at a glance across the line (some ten times what an
// eye tells apart side by side): a green and a red of one lightness come closer than this for a
// red-green deficient eye.
constexpr double kToneMargin = 20;

constexpr std::array kTones{Tone::kNeutral, Tone::kBusy, Tone::kGood, Tone::kBad};
constexpr std::array kVisions{Vision::kNormal, Vision::kProtanopia, Vision::kDeuteranopia,
                              Vision::kTritanopia, Vision::kGreyscale};

// The closest pair of `colours` under `vision`.
template <std::size_t N>
std::pair<double, std::string> closest(const std::array<Rgb, N>& colours, Vision vision) {
  std::pair<double, std::string> worst{1e9, ""};
  for (std::size_t a = 0; a < N; ++a)
    for (std::size_t b = a + 1; b < N; ++b)
      if (double d = difference(colours[a], colours[b], vision); d < worst.first)
        worst = {d, std::to_string(a) + " and " + std::to_string(b)};
  return worst;
}

TEST(Palette, TonesStayApartForEveryVision) {
  std::array<Rgb, kTones.size()> colours{};
  for (std::size_t i = 0; i < kTones.size(); ++i) colours[i] = background_of(kTones[i]);
  for (Vision vision : kVisions) {
    const auto [distance, pair] = closest(colours, vision);
    EXPECT_GE(distance, kToneMargin) << vision_name(vision) << ": tones " << pair << " (neutral, busy, good, bad)";
  }
}

TEST(Palette, TheSimulationTellsARedGreenPaletteApart) {
  // A green and a red of one lightness: apart for a normal eye, alike for a red-green
  // deficient one and in grey. The check above must see what the operator would not.
  const std::array<Rgb, 2> green_red{Rgb{0x2e, 0x7d, 0x32}, Rgb{0xc6, 0x28, 0x28}};
  EXPECT_GE(closest(green_red, Vision::kNormal).first, kToneMargin);
  EXPECT_GE(closest(green_red, Vision::kTritanopia).first, kToneMargin);
  for (Vision vision : {Vision::kProtanopia, Vision::kDeuteranopia, Vision::kGreyscale})
    EXPECT_LT(closest(green_red, vision).first, kToneMargin) << vision_name(vision);
}

TEST(Palette, TheWordReadsOnEveryTone) {
  // WCAG's contrast ratio; 4.5 is its floor for body text, and the word is far larger.
  auto ratio = [](Rgb a, Rgb b) {
    double ya = luminance(linear(a)), yb = luminance(linear(b));
    return (std::max(ya, yb) + 0.05) / (std::min(ya, yb) + 0.05);
  };
  for (Tone tone : kTones)
    EXPECT_GE(ratio(background_of(tone), text_colour_of(tone)), 4.5) << static_cast<int>(tone);
}

TEST(Marks, WordsOfDifferentMeaningHaveDifferentShapes) {
  // Only the two station faults share one (a warning): the operator does the same for both,
  // and the word says which.
  for (Word a : kWords)
    for (Word b : kWords) {
      const bool same_meaning = a == b || (a == Word::kAdapterError && b == Word::kStationError) ||
                                (a == Word::kStationError && b == Word::kAdapterError);
      EXPECT_EQ(mark_of(a) == mark_of(b), same_meaning) << word_text(a) << " / " << word_text(b);
    }
}

TEST(Marks, TheVerdictsHaveTheirUsualShapes) {
  const std::pair<Word, const char*> cases[] = {
      {Word::kPass, "tick"},         {Word::kFail, "cross"},           {Word::kTimeout, "clock"},
      {Word::kAdapterError, "warning"}, {Word::kStationError, "warning"}, {Word::kProgramming, "arrow"},
      {Word::kInterrupted, "pause"},
  };
  for (const auto& [word, name] : cases) EXPECT_STREQ(mark_name(mark_of(word)), name) << word_text(word);
}

TEST(Marks, OutlinesStayInTheirSquareAndDifferFromEachOther) {
  std::set<std::string> outlines;
  std::set<std::string> names;
  for (Word word : kWords) {
    const Mark mark = mark_of(word);
    const auto& strokes = mark_strokes(mark);
    ASSERT_FALSE(strokes.empty()) << mark_name(mark);
    std::string outline;
    for (const MarkStroke& stroke : strokes) {
      // A line needs two points, a closed shape three; a filled one must be closed.
      EXPECT_GE(stroke.points.size(), stroke.closed ? 3u : 2u) << mark_name(mark);
      EXPECT_TRUE(stroke.closed || !stroke.filled) << mark_name(mark);
      for (const MarkPoint& p : stroke.points) {
        // The pen's half width must stay inside the square too.
        EXPECT_GE(std::min(p.x, p.y), kMarkPen / 2 - 1e-6f) << mark_name(mark);
        EXPECT_LE(std::max(p.x, p.y), 1 - kMarkPen / 2 + 1e-6f) << mark_name(mark);
        outline += std::to_string(p.x) + "," + std::to_string(p.y) + ";";
      }
      outline += "|";
    }
    outlines.insert(outline);
    names.insert(mark_name(mark));
  }
  // Nine distinct marks over the ten words, each with an outline of its own.
  EXPECT_EQ(names.size(), 9u);
  EXPECT_EQ(outlines.size(), names.size());
}

}  // namespace
}  // namespace skav::present
