// Damaged inputs end in a clean error or a result: every demo entry and the demo archive itself,
// cut at many lengths and with 1% of their bytes flipped (fixed seed), through the loader, the
// decoders and `qar check`.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QTextDocument>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "archive/Container.h"
#include "archive/DirectoryLoader.h"
#include "archive/SafeExtract.h"
#include "lib/DemoArchive.h"
#include "platform/Errors.h"
#include "platform/media/SoundDecoder.h"
#include "platform/Text.h"
#include "support/Damage.h"
#include "support/TempDir.h"
#include "viewers/KmgDecoder.h"
#include "viewers/PictureExport.h"
#include "viewers/richtext/RtfReader.h"
#include "viewers/TargaDecoder.h"
#include "viewers/TextConvert.h"

using namespace vorlr;
using Bytes = std::vector<uint8_t>;
using vorlr::testing::flips;
using vorlr::testing::truncations;

namespace {

// Pictures larger than this are refused by the decoders before they are allocated; their
// real limit is covered by their own tests, and here it would only make the run slow.
constexpr size_t kMaxPictureBytes = size_t{3} << 22;

struct Pictures final : KmgTarget {
    std::vector<Bitmap24> pictures = std::vector<Bitmap24>(1);
    Bitmap24& firstPicture() override { return pictures[0]; }
    void setSubImageCount(int count) override { pictures.resize(count > 0 ? size_t(count) : 1); }
    Bitmap24& beginSubImage(int index, KmgLayout::Position) override { return pictures.at(size_t(index)); }
    void pictureDone(int) override {}
};

std::string extensionOf(const std::string& name) { return lowerAZ(name.substr(name.rfind('.') + 1)); }

// One damaged entry through the decoder its extension picks. Returns normally or raises Error.
void decode(const std::string& ext, const Bytes& bytes, DecoderState& state) {
    MemoryByteSource source(bytes);
    if (ext == "kmg") {
        Pictures out;
        decodeKmg(source, state, out);
    } else if (ext == "tga") {
        Bitmap24 picture;
        decodeTarga(source, state, picture);
    } else if (ext == "txt" || ext == "ini") {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const std::string converted = ConvertUnicodeBytes(text);
        QTextDocument doc;
        ReadRtf(text, doc);
        ReadRtf(converted, doc);
    } else if (ext == "wav" || ext == "mp3") {
        std::unique_ptr<SoundDecoder> d;
        const auto kind = ext == "wav" ? SoundDecoder::Kind::Wave : SoundDecoder::Kind::Mpeg;
        if (SoundDecoder::openMemory(bytes.data(), bytes.size(), kind, d) != kMediaOk) return;
        std::vector<int16_t> buf(4096 * 2);
        int64_t total = 0;
        for (int64_t n; (n = d->read(buf.data(), 4096)) > 0;) total += n;
        EXPECT_LE(total, d->frames());
    }
}

TEST(Robustness, DamagedDemoEntriesDecodeOrFailCleanly) {
    DecoderState state;  // shared, as in the viewer: palette and work buffer carry over
    state.limits.maxPictureBytes = state.limits.maxTotalBytes = kMaxPictureBytes;
    int inputs = 0;
    for (const auto& entry : samples::demoEntries()) {
        const std::string ext = extensionOf(entry.name);
        SCOPED_TRACE(entry.name);
        std::vector<Bytes> damaged = truncations(entry.data);
        for (auto& b : flips(entry.data, 20261208)) damaged.push_back(std::move(b));
        for (const Bytes& b : damaged) {
            ++inputs;
            try {
                decode(ext, b, state);
            } catch (const Error&) {
                // A clean refusal: short header, unsupported depth, ...
            }
        }
    }
    EXPECT_GT(inputs, 1000);
}

int runQarCheck(const std::string& archive) {
    const std::string cmd = std::string("timeout 20 ") + VORLR_QAR_PATH + " check '" + archive + "' >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class CountingObserver final : public LoadObserver {
public:
    int started = 0, finished = 0;
    void loadingStarted(int32_t) override { ++started; }
    void loadingFinished() override { ++finished; }
};

void exportPictures(const std::string& path, const std::string& out) {
    Archive archive;
    try {
        archive.open(path);
        ReadDirectory(archive);
    } catch (const Error&) {
        return;
    }
    const EntryConversion pictures = PictureConversion(PictureFormat::Png, 2);
    ExtractOptions options;
    options.conversion = &pictures;
    std::vector<size_t> all(archive.entryCount());
    for (size_t i = 0; i < all.size(); ++i) all[i] = i;
    try {
        ExtractEntries(archive, all, out, options);
    } catch (const Error&) {
    }
    std::filesystem::remove_all(out);
}

TEST(Robustness, DamagedDemoArchivesLoadAndCheckCleanly) {
    vorlr::testing::TempDir dir;
    const Bytes whole = samples::buildQar(samples::demoEntries());
    std::vector<Bytes> damaged = truncations(whole);
    // Cuts inside the directory at the end matter most; add every length of its last record.
    for (size_t n = whole.size() - 280; n < whole.size(); n += 7) damaged.emplace_back(whole.begin(), whole.begin() + n);
    for (auto& b : flips(whole, 7)) damaged.push_back(std::move(b));

    const std::string path = dir.file("damaged.qar");
    size_t index = 0;
    for (const Bytes& b : damaged) {
        SCOPED_TRACE(index);
        samples::writeFile(path, b);
        Archive archive;
        std::vector<int32_t> table;
        WorkBufferBytes buffer{};
        FolderTree tree;
        CountingObserver observer;
        try {
            LoadDirectory(path, DirectoryLoad{archive, table, buffer}, tree, observer);
        } catch (const Error&) {
        }
        EXPECT_EQ(observer.started, observer.finished);
        // Exported with pictures converted on two workers, every eighth one: a clean run or a
        // clean error, whatever the damage.
        if (index % 8 == 0) exportPictures(path, dir.file("export"));
        // The tool, as a separate process, on a sample of them: exit 0 or 1, never a crash.
        if (index % 4 == 0) {
            const int status = runQarCheck(path);
            EXPECT_TRUE(status == 0 || status == 1) << "qar check exit " << status;
        }
        ++index;
    }
}

}  // namespace
