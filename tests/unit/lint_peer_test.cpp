// The lint against a reader nobody here wrote: over generated images, sound
// and damaged (bits flipped, bytes overwritten, offsets and lengths moved with
// their checksums made right, FRUs cut short, and rewrites torn after any of
// their changed chunks), every image on which FreeIPMI's ipmi-fru reports an
// error ("FRU Error: ...", or "FRU Board Info Area Error: ..." for one area)
// has a lint error. Lint errors on images that ipmi-fru passes
// are counted by rule and printed: those are the rules it does not check.
//
// TAGFORGE_PEER_IMAGES sets the count (the ctest test lint_peer_full runs
// thousands; a run of ipmi-fru takes a few milliseconds).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>

#include "bmc/fru_storage.h"
#include "fru/fru_lint.h"
#include "fru/image_rebuild.h"
#include "fru_generator.h"
#include "fru_test_support.h"
#include "simulated_bmc.h"

namespace {

int PeerImages() {
  const char* count = getenv("TAGFORGE_PEER_IMAGES");
  return count != nullptr ? atoi(count) : 400;
}

enum class Damage { None, BitFlip, ByteOverwrite, HeaderOffset, AreaLength, CutShort, Torn, Count };
const char* const kDamageNames[] = {"sound", "bit flipped", "byte overwritten", "header offset moved",
                                    "area length moved", "cut short", "torn rewrite"};

class LintPeer : public FruTest {
 protected:
  // A rewrite of image by one to three random edits, stopped after the first
  // k of the 32-byte chunks it changes, as a write that a reset or a kill
  // breaks off leaves it. Image unchanged when the edit yields nothing to write.
  Bytes Torn(Generator& g, const Bytes& image) {
    SetUp();
    for (int e = g.Between(1, 3); e > 0; --e) g.GiveAnyRowAValue(gFieldCatalogue.rows, FIELD_COUNT);
    Bytes working = image;
    working.resize(FRU_IMAGE_MAX, 0);
    Bytes after(FRU_IMAGE_MAX, 0);
    const FruEditResult r = EditFruImage(working.data(), image.size(), gFieldCatalogue.rows, FIELD_COUNT,
                                         after.data(), *work_);
    TakeConsole();
    if (r.outcome != FruEditOutcome::ImageReady) return image;
    std::vector<size_t> changed;
    for (size_t chunk = 0; chunk < r.newSize; chunk += FRU_CHUNK_MAX) {
      const size_t end = std::min(chunk + FRU_CHUNK_MAX, r.newSize);
      if (!std::equal(after.begin() + static_cast<long>(chunk), after.begin() + static_cast<long>(end),
                      image.begin() + static_cast<long>(chunk))) {
        changed.push_back(chunk);
      }
    }
    if (changed.size() < 2) return image;
    Bytes torn = image;
    const size_t k = static_cast<size_t>(g.Between(1, static_cast<int>(changed.size()) - 1));
    for (size_t i = 0; i < k; ++i) {
      const size_t end = std::min(changed[i] + FRU_CHUNK_MAX, r.newSize);
      std::copy(after.begin() + static_cast<long>(changed[i]), after.begin() + static_cast<long>(end),
                torn.begin() + static_cast<long>(changed[i]));
    }
    return torn;
  }

  Bytes Damaged(Generator& g, Bytes image, Damage damage) {
    size_t used = 8;
    for (size_t i = image.size(); i > 0; --i) {
      if (image[i - 1] != 0) {
        used = i;
        break;
      }
    }
    switch (damage) {
      case Damage::None:
      case Damage::Count:
        break;
      case Damage::BitFlip:
        image[static_cast<size_t>(g.Between(0, static_cast<int>(used) - 1))] ^= static_cast<uint8_t>(1 << g.Between(0, 7));
        break;
      case Damage::ByteOverwrite:
        image[static_cast<size_t>(g.Between(0, static_cast<int>(used) - 1))] = static_cast<uint8_t>(g.Between(0, 255));
        break;
      case Damage::HeaderOffset:
        image[static_cast<size_t>(g.Between(1, 5))] = static_cast<uint8_t>(g.Between(0, static_cast<int>(used / 8) + 2));
        image[7] = ZeroChecksum(image, 7);
        break;
      case Damage::AreaLength: {
        const size_t start = image[static_cast<size_t>(g.Between(2, 4))] * 8u;
        if (start == 0 || start + 2 > image.size()) break;
        image[start + 1] = static_cast<uint8_t>(g.Between(0, 12));
        const size_t length = image[start + 1] * 8u;
        if (length == 0 || start + length > image.size()) break;
        image[start + length - 1] = ZeroChecksum(Bytes(image.begin() + static_cast<long>(start), image.end()), length - 1);
        break;
      }
      case Damage::CutShort:
        // Somewhere inside what the image uses, so that something is cut off.
        image.resize(static_cast<size_t>(g.Between(2, std::max(2, static_cast<int>(used / 8)))) * 8);
        break;
      case Damage::Torn:
        image = Torn(g, image);
        break;
    }
    return image;
  }

  std::unique_ptr<FruRebuildWork> work_ = std::make_unique<FruRebuildWork>();
};

std::vector<Bytes> CorpusImages() {
  std::vector<Bytes> images{sim::SampleFruImage(), StartingFru512()};
  const std::filesystem::path listing = std::filesystem::path(TAGFORGE_SOURCE_DIR) / "fuzz/corpus/listing";
  for (const auto& entry : std::filesystem::directory_iterator(listing)) {
    std::ifstream in(entry.path(), std::ios::binary);
    Bytes input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (input.size() > 1) images.emplace_back(input.begin() + 1, input.end());  // the first byte is the -v switch
  }
  return images;
}

TEST_F(LintPeer, EveryImageIpmiFruRejectsHasALintError) {
  Generator g(20261225);
  const std::vector<Bytes> corpus = CorpusImages();
  const int images = PeerImages();
  std::map<std::string, int> unflagged;  // lint error rules on images ipmi-fru passes: images per rule
  int rejected = 0, linted = 0, soundClean = 0;
  int byDamage[static_cast<int>(Damage::Count)] = {};
  for (int c = 0; c < images; ++c) {
    const Damage damage = static_cast<Damage>(c % static_cast<int>(Damage::Count));
    Bytes base = c < static_cast<int>(corpus.size()) ? corpus[static_cast<size_t>(c)]
                                                      : g.Image(static_cast<size_t>(g.Between(16, 256)) * 8);
    const Bytes image = Damaged(g, base, damage);
    FruLintReport report;
    LintFru(image.data(), image.size(), &report);
    const std::string decoded = DecodeWithIpmiFru(image);
    SCOPED_TRACE("image " + std::to_string(c) + " (" + kDamageNames[static_cast<int>(damage)] + ")\n" + decoded);
    ASSERT_NE(decoded.find("FRU Inventory From File"), std::string::npos) << "ipmi-fru did not run";
    const bool peerError = IpmiFruRejects(decoded);
    if (damage == Damage::None) {
      EXPECT_EQ(report.errorCount, 0) << "a generated sound image";
      soundClean += report.errorCount == 0;
    }
    rejected += peerError;
    linted += report.errorCount > 0;
    ++byDamage[static_cast<int>(damage)];
    if (peerError) {
      EXPECT_GT(report.errorCount, 0) << "ipmi-fru rejects it, the lint finds no error";
      continue;
    }
    std::set<FruLintRule> rules;
    for (int i = 0; i < report.count; ++i) {
      if (FruLintLevelOf(report.findings[i]) == FruLintLevel::Error) rules.insert(report.findings[i].rule);
    }
    for (FruLintRule rule : rules) ++unflagged[FRU_LINT_RULES[static_cast<int>(rule)].text];
  }
  printf("lint against ipmi-fru: %d images (%d sound, all lint-clean: %d), %d rejected by ipmi-fru, %d with a lint "
         "error\n",
         images, byDamage[0], soundClean, rejected, linted);
  printf("lint errors on images ipmi-fru passes (images per rule):\n");
  for (const auto& [rule, count] : unflagged) printf("  %5d  %s\n", count, rule.c_str());
}

}  // namespace
