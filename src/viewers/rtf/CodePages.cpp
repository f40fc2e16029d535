#include "viewers/rtf/CodePages.h"

#include <iconv.h>

#include <cerrno>
#include <map>
#include <string>

namespace vorlr {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// The C library's names for pages it does not know as "CPnnn".
const char* specialName(int cp) {
    switch (cp) {
        case 10000: return "MACINTOSH";
        case 10029: return "MAC-CENTRALEUROPE";
        case 1361: return "JOHAB";
        case 20866: return "KOI8-R";
        case 21866: return "KOI8-U";
        case 20932: return "EUC-JP";
        case 51949: return "EUC-KR";
        default: return nullptr;
    }
}

iconv_t openPage(int cp) {
    iconv_t cd = kNoConverter;
    if (const char* name = specialName(cp)) cd = iconv_open("UTF-16LE", name);
    if (cd == kNoConverter && cp >= 28591 && cp <= 28606)
        cd = iconv_open("UTF-16LE", ("ISO-8859-" + std::to_string(cp - 28590)).c_str());
    if (cd == kNoConverter) cd = iconv_open("UTF-16LE", ("CP" + std::to_string(cp)).c_str());
    if (cd == kNoConverter) cd = iconv_open("UTF-16LE", ("WINDOWS-" + std::to_string(cp)).c_str());
    return cd;
}

}  // namespace

CodePage& CodePage::get(int cp) {
    // Per thread: a converter carries state between calls and is not to be shared.
    thread_local std::map<int, std::unique_ptr<CodePage>> pages;
    thread_local CodePage* fallback = nullptr;
    if (fallback == nullptr) {
        auto& slot = pages[1252];
        slot.reset(new CodePage(1252, openPage(1252)));
        fallback = slot.get();
    }
    if (cp <= 0 || cp > 65535) return *fallback;  // no page: not worth remembering
    auto it = pages.find(cp);
    if (it == pages.end()) {
        const iconv_t cd = openPage(cp);
        it = pages.emplace(cp, cd == kNoConverter ? nullptr : new CodePage(cp, cd)).first;
        // Bytes the page leaves undefined read as Windows-1252 does.
        if (CodePage* page = it->second.get())
            for (int b = 0; b < 128; ++b)
                if (page->high_[b] == 0 && !page->lead_[b]) page->high_[b] = fallback->high_[b];
    }
    return it->second ? *it->second : *fallback;
}

CodePage::CodePage(int number, void* descriptor) : number_(number), cd_(descriptor) {
    for (int b = 0x80; b < 0x100; ++b) {
        const char c = static_cast<char>(b);
        bool incomplete = false;
        const char16_t ch = cd_ != kNoConverter ? convert(&c, 1, incomplete) : 0;
        lead_[b - 0x80] = incomplete;
        high_[b - 0x80] = ch != 0 || number != 1252 ? ch : static_cast<char16_t>(b);
    }
}

CodePage::~CodePage() {
    if (cd_ != kNoConverter) iconv_close(static_cast<iconv_t>(cd_));
}

// One character from n bytes; 0 when they are no single character of the page, with
// incomplete set when they begin one.
char16_t CodePage::convert(const char* bytes, size_t n, bool& incomplete) {
    const auto cd = static_cast<iconv_t>(cd_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in[2] = {bytes[0], n > 1 ? bytes[1] : '\0'};
    unsigned char out[8] = {};
    char* inp = in;
    char* outp = reinterpret_cast<char*>(out);
    size_t inLeft = n, outLeft = sizeof out;
    const size_t done = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    incomplete = done == static_cast<size_t>(-1) && errno == EINVAL;
    if (done == static_cast<size_t>(-1)) return 0;
    // Pages that combine marks with the letter before them (1258) hold the letter back.
    iconv(cd, nullptr, nullptr, &outp, &outLeft);
    if (sizeof out - outLeft != 2) return 0;  // nothing, or more than one UTF-16 unit
    return static_cast<char16_t>(out[0] | (out[1] << 8));
}

char16_t CodePage::pair(uint8_t lead, uint8_t trail) {
    if (!pairs_) pairs_ = std::make_unique<std::array<char16_t, 128 * 256>>();
    char16_t& slot = (*pairs_)[(lead - 0x80) * 256 + trail];
    if (slot == 0) {
        const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        bool incomplete = false;
        const char16_t ch = convert(bytes, 2, incomplete);
        slot = ch != 0 ? ch : 0xFFFF;
    }
    return slot == 0xFFFF ? 0 : slot;
}

int CodePageOfCharset(int charset) {
    switch (charset) {
        case 77: return 10000;   // Mac Roman
        case 78: return 10001;   // Mac Shift-JIS
        case 79: return 10003;   // Mac Hangul
        case 80: return 10008;   // Mac GB2312
        case 81: return 10002;   // Mac Big5
        case 89: return 10007;   // Mac Cyrillic
        case 128: return 932;    // Shift-JIS
        case 129: return 949;    // Hangul
        case 130: return 1361;   // Johab
        case 134: return 936;    // GB2312
        case 136: return 950;    // Big5
        case 161: return 1253;   // Greek
        case 162: return 1254;   // Turkish
        case 163: return 1258;   // Vietnamese
        case 177: return 1255;   // Hebrew
        case 178: return 1256;   // Arabic
        case 186: return 1257;   // Baltic
        case 204: return 1251;   // Russian
        case 222: return 874;    // Thai
        case 238: return 1250;   // Eastern Europe
        case 254: return 437;    // PC 437
        case 255: return 437;    // OEM
        // ANSI (0) is the document's ANSI page: word processors keep a Latin font selected
        // (\loch\f) while writing the double-byte text of a \ansicpg936 document. Default,
        // symbol and the unknown: the document's page too.
        default: return 0;
    }
}

}  // namespace vorlr
