// Every file of the conformance corpus through quendrix-batch, the intake's probe and CompressFile: valid
// files are processed and their outputs decode, invalid ones are refused with "Keine gültige Bilddatei" (or
// not taken by the intake, silently like a drop) and leave no output; none crashes or hangs.
#include <fstream>
#include <iostream>
#include <sstream>

#include "engine/compress.h"
#include "engine/memory_budget.h"
#include "hardening_support.h"
#include "intake/intake.h"
#include "res/strings.h"
#include "support/corpus_manifest.h"
#include "support/message_recorder.h"

namespace qx::test {
namespace {

// NoTargetSize: the size rule gives a side of 0 pixels (a 1 x 10000 strip fitted into a box), which fails
// as a save would.
enum class Outcome { Processed, RefusedWithMessage, NotTaken, NoTargetSize, Broken };

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Processed: return "processed";
        case Outcome::RefusedWithMessage: return "refused with message";
        case Outcome::NotTaken: return "not taken by the intake, with its reason";
        case Outcome::NoTargetSize: return "target size 0, fails as a save";
        case Outcome::Broken: return "BROKEN";
    }
    return "";
}

const char* kOutputTypes[] = {"jpg", "png", "bmp"};
const char* kSizes[] = {"box:320x240", "source", "percent:50"};

MainSettings SizeRule(const std::string& size) {
    MainSettings settings;
    if (size == "source") settings.Bildsize = 2;
    if (size == "percent:50") {
        settings.Bildsize = 0;
        settings.Prozent = 50;
    }
    if (size == "box:320x240") {
        settings.Bildsize = 1;
        settings.Breite = 320;
        settings.Hoehe = 240;
    }
    return settings;
}

// One run of quendrix-batch on one corpus file into an empty target folder of its own.
Outcome RunOne(const ScratchDir& scratch, const std::string& settings, size_t index, const ManifestEntry& entry,
               std::string& detail) {
    const std::string source = kCorpus + "/" + entry.path;
    const std::string target = scratch / ("out" + std::to_string(index));
    // Files alternate between the calling thread and workers, and between the three encoders.
    const std::string size = kSizes[(index / 3) % 3];
    RunOptions options;
    options.timeoutSeconds = 120;
    const RunResult run = RunBatchProgram(settings,
                                          {"--target-folder", target, "--threads", index % 2 ? "3" : "0", "--type",
                                           kOutputTypes[index % 3], "--size", size, "--", source},
                                          options);
    const std::vector<std::string> outputs = Tree(target);
    detail = Describe(run);
    if (run.signal != 0 || run.timedOut) return Outcome::Broken;
    if (!TemporaryFiles(target).empty()) return Outcome::Broken;
    if (run.Exited(0)) {
        if (outputs.size() != 1 || !run.err.empty()) return Outcome::Broken;
        const auto decoded = DecodedSize(target + "/" + outputs[0]);
        if (!decoded) {
            detail += "\noutput does not decode: " + outputs[0];
            return Outcome::Broken;
        }
        return Outcome::Processed;
    }
    if (!run.Exited(1)) return Outcome::Broken;
    if (run.err == res::FormatString(res::IDS_NOT_AN_IMAGE, source) + "\n") {
        return outputs.empty() ? Outcome::RefusedWithMessage : Outcome::Broken;
    }
    const std::string refused = res::FormatNumbered(res::IDS_CLI_NAMED_REFUSED, {source, ""});
    if (run.err.rfind(refused, 0) == 0 && run.err.ends_with(res::LoadString(res::IDS_CLI_NOTHING_TAKEN) + "\n") &&
        outputs.empty())
        return Outcome::NotTaken;
    uint32_t width = 0, height = 0;
    const std::string saveFailed = res::FormatString(res::IDS_SAVE_FAILED, "@");
    const std::string failedHead = saveFailed.substr(0, saveFailed.find('@'));
    const std::string failedTail = saveFailed.substr(saveFailed.find('@') + 1) + "\n";
    if (ProbeImageSize(source, width, height) && run.err.rfind(failedHead, 0) == 0 &&
        run.err.size() > failedTail.size() && run.err.ends_with(failedTail) && outputs.empty()) {
        const TargetSize targetSize = ComputeTargetSize(SizeRule(size), width, height);
        if (targetSize.width == 0 || targetSize.height == 0) return Outcome::NoTargetSize;
    }
    return Outcome::Broken;
}

TEST(CorpusThroughTheProgram, EveryFileGivesItsExpectedOutcome) {
    const std::vector<ManifestEntry> entries = ReadManifest(kCorpus);
    ASSERT_GT(entries.size(), 400u);
    ScratchDir scratch;
    const std::string settings = scratch / "quendrix.ini";
    WriteBytes(settings, "[Allg]\nRate=80\nBildsize=1\nBreite=320\nHoehe=240\n[Parameter]\nEingabeTyp=7\n");
    const std::string settingsBefore = ReadBytes(settings);

    std::map<std::string, std::map<Outcome, int>> counts;  // by expected outcome
    for (size_t i = 0; i < entries.size(); ++i) {
        const ManifestEntry& entry = entries[i];
        SCOPED_TRACE(entry.path + " (" + entry.expected + "): " + entry.note);
        std::string detail;
        const Outcome outcome = RunOne(scratch, settings, i, entry, detail);
        ++counts[entry.expected][outcome];
        EXPECT_NE(outcome, Outcome::Broken) << detail;
        if (entry.expected == "valid") {
            EXPECT_TRUE(outcome == Outcome::Processed || outcome == Outcome::NoTargetSize) << detail;
        }
        if (entry.expected == "invalid") {
            EXPECT_NE(outcome, Outcome::Processed) << detail;
        }
    }
    EXPECT_EQ(ReadBytes(settings), settingsBefore);

    std::cout << "Corpus through quendrix-batch, by expected outcome:\n";
    for (const auto& [expected, byOutcome] : counts) {
        for (const auto& [outcome, n] : byOutcome) {
            std::cout << "  " << expected << " -> " << OutcomeName(outcome) << ": " << n << "\n";
        }
    }
}

// The probe a drop makes, and CompressFile on every file whatever the probe said (a file may change
// between the drop and the batch): the probe never takes an invalid file that then decodes wrongly, and
// CompressFile refuses every invalid file with exactly one "Keine gültige Bilddatei" message.
TEST(CorpusThroughTheEngine, ProbeAndCompressFileAgreeWithTheManifest) {
    ScratchDir scratch;
    MainSettings settings;
    settings.Bildsize = 0;  // percent
    settings.Prozent = 50;
    int probed = 0, written = 0, refused = 0;
    size_t index = 0;
    for (const ManifestEntry& entry : ReadManifest(kCorpus)) {
        SCOPED_TRACE(entry.path + " (" + entry.expected + ")");
        const std::string source = kCorpus + "/" + entry.path;
        uint32_t width = 0, height = 0;
        const bool probeTakes = ProbeImageSize(source, width, height);
        probed += probeTakes;
        if (entry.expected == "valid") {
            EXPECT_TRUE(probeTakes);
            EXPECT_GT(width, 0u);
            EXPECT_GT(height, 0u);
        }

        MessageRecorder messages;
        MemoryBudget budget(uint64_t{4} << 30);
        Compressor compressor(settings, messages, budget);
        const std::string target = scratch / ("t" + std::to_string(index++) + ".png");
        const bool ok = compressor.CompressFile(source, target, CodecNamed("png"));
        if (ok) {
            ++written;
            EXPECT_TRUE(messages.messages().empty());
            EXPECT_TRUE(DecodedSize(target).has_value());
        } else {
            ++refused;
            EXPECT_FALSE(Exists(target));
            ASSERT_EQ(messages.messages().size(), 1u);
            // A header whose size rule gives 0 pixels fails as a save before any pixel is decoded.
            const TargetSize targetSize = ComputeTargetSize(settings, width, height);
            if (entry.expected == "invalid" && (!probeTakes || (targetSize.width > 0 && targetSize.height > 0))) {
                EXPECT_EQ(messages.messages()[0], res::FormatString(res::IDS_NOT_AN_IMAGE, source));
            }
        }
        const TargetSize targetSize = ComputeTargetSize(settings, width, height);
        if (entry.expected == "valid" && targetSize.width > 0 && targetSize.height > 0) {
            EXPECT_TRUE(ok) << (messages.messages().empty() ? "" : messages.messages()[0]);
        }
        if (entry.expected == "invalid") {
            EXPECT_FALSE(ok);
        }
        ::unlink(target.c_str());
    }
    EXPECT_TRUE(TemporaryFiles(scratch.path()).empty());
    std::cout << "Corpus through the engine: probe takes " << probed << ", CompressFile writes " << written
              << ", refuses " << refused << "\n";
}

}  // namespace
}  // namespace qx::test
