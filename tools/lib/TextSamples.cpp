#include "lib/TextSamples.h"

namespace vorlr::samples {

std::vector<uint8_t> utf16LeWithMark(const std::string& utf8) {
    std::vector<uint8_t> out = {0xFF, 0xFE};
    auto unit = [&out](uint32_t u) {
        out.push_back(static_cast<uint8_t>(u & 0xFF));
        out.push_back(static_cast<uint8_t>(u >> 8));
    };
    for (size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        uint32_t cp = b;
        size_t len = 1;
        if (b >= 0xF0) len = 4, cp = b & 0x07;
        else if (b >= 0xE0) len = 3, cp = b & 0x0F;
        else if (b >= 0xC0) len = 2, cp = b & 0x1F;
        for (size_t k = 1; k < len && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 + (cp >> 10));
            unit(0xDC00 + (cp & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

std::string formattedRtf() {
    return "{\\rtf1\\ansi\\ansicpg1252\\deff0"
           "{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}{\\f1\\froman\\fcharset0 Times New Roman;}"
           "{\\f2\\fmodern\\fcharset0 Courier New;}}\r\n"
           "{\\colortbl ;\\red170\\green0\\blue0;\\red0\\green96\\blue0;\\red0\\green0\\blue160;"
           "\\red255\\green240\\blue160;}\r\n"
           "{\\*\\generator make_demo;}{\\info{\\title Tavern notice}}\r\n"
           "\\pard\\qc\\sa120\\f1\\fs40\\b\\cf1 The Prancing Wyvern\\b0\\cf0\\par\r\n"
           "\\pard\\qc\\fs24\\i Finest ale north of the river\\i0\\par\r\n"
           "\\pard\\sa60\\f0\\fs20 Travellers are welcome at the \\b Prancing Wyvern\\b0 , where the "
           "hearth is warm and the \\ul stew\\ulnone  is \\i almost\\i0  fresh.\\par\r\n"
           "\\pard\\li360\\fi-180\\bullet  Room for the night: \\cf2\\b 5 gold\\b0\\cf0\\par\r\n"
           "\\bullet  Stabling: \\cf3 2 gold\\cf0\\line (hay included)\\par\r\n"
           "\\bullet  Bath: \\cb4 ask the innkeeper\\cb0\\par\r\n"
           "\\pard\\qr\\f2\\fs18 Signed, Ren\\'e9 the caf\\'e9 keeper \\u8364?\\par\r\n"
           "\\pard\\f0\\fs16 {\\strike old prices} new prices \\u8212-and nothing more.\\par}\r\n";
}

std::string largePlainText(size_t bytes) {
    std::string out;
    out.reserve(bytes + 128);
    static const char* const kLines[] = {
        "The road north climbs through pine forest to the pass of Vorlund.",
        "Merchants pay their toll at the gate; caf\xe9 owners sell warm cider.",
        "",
        "Chapter \x96 the long winter",
        "Snow fell for forty days, and the wolves came down from the hills \x85",
    };
    for (size_t i = 0; out.size() < bytes; ++i) {
        out += kLines[i % 5];
        out += "\r\n";
    }
    out.resize(bytes);
    return out;
}

std::string largeRtf(size_t bytes) {
    std::string out =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Arial;}{\\f1 Times New Roman;}}"
        "{\\colortbl ;\\red200\\green0\\blue0;\\red0\\green0\\blue200;}\r\n";
    out.reserve(bytes + 256);
    for (size_t i = 0; out.size() < bytes; ++i) {
        out += (i % 7 == 0) ? "\\pard\\qc\\f1\\fs32\\b Heading " : "\\pard\\ql\\f0\\fs20 ";
        out += std::to_string(i);
        out += "\\b0  Plain words with \\b bold\\b0 , \\i italic\\i0 , \\ul underlined\\ulnone  and "
               "\\cf1 red\\cf0  or \\cf2 blue\\cf0  text; caf\\'e9 \\u8364? and more plain text "
               "to make a paragraph of some length.\\par\r\n";
    }
    out += "}";
    return out;
}

std::string largeChineseRtf(size_t bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out =
        "{\\rtf1\\adeflang1025\\ansi\\ansicpg936\\uc2\\adeff0\\deff0\\stshfdbch13\\deflang1033"
        "\\deflangfe2052{\\fonttbl{\\f0\\froman\\fcharset0\\fprq2 Times New Roman;}"
        "{\\f13\\fbidi\\fnil\\fcharset134\\fprq2 \\'cb\\'ce\\'cc\\'e5{\\*\\falt SimSun};}}"
        "{\\colortbl;\\red0\\green0\\blue0;}\r\n";
    out.reserve(bytes + 512);
    uint32_t seed = 1;
    for (size_t i = 0; out.size() < bytes; ++i) {
        out += "\\pard\\plain \\ltrpar\\qj \\li0\\ri0\\nowidctlpar\\wrapdefault\\aspalpha\\aspnum"
               "\\faauto\\adjustright\\rin0\\lin0\\itap0 ";
        for (int run = 0; run < 4; ++run) {
            out += "{\\rtlch\\fcs1 \\af13\\afs24 \\ltrch\\fcs0 \\fs24\\lang1033\\langfe2052"
                   "\\loch\\af13\\hich\\af13\\dbch\\af13\\insrsid" + std::to_string(1000000 + i) +
                   " \\hich\\af13\\dbch\\af13\\loch\\f13 ";
            // Level-one characters of GB2312: leads B0..D6, trails A1..FE.
            for (int k = 0; k < 12; ++k) {
                seed = seed * 1103515245u + 12345u;
                const unsigned lead = 0xB0 + (seed >> 16) % 0x27, trail = 0xA1 + (seed >> 8) % 0x5E;
                for (unsigned b : {lead, trail}) {
                    out += "\\'";
                    out += kHex[b >> 4];
                    out += kHex[b & 15];
                }
            }
            out += run == 3 ? "\\'a1\\'a3}" : " Vorlund 2026}";
        }
        out += "\r\n\\par ";
    }
    out += "}";
    return out;
}

std::vector<QarEntry> textDemoEntries() {
    std::vector<QarEntry> e;
    auto add = [&](std::string name, std::vector<uint8_t> data) {
        e.push_back(QarEntry{std::move(name), std::move(data), {}, {}, false});
    };
    add("DATA\\TEXT\\LEGEND.TXT",
        bytesOf("The Legend of Vorlund\r\n=====================\r\n\r\n"
                "Long ago the northern clans swore an oath at the standing stones.\r\n"
                "Lines here end in CR LF,\nthis one in a lone LF,\rand this one in a lone CR.\r\n"
                "Windows-1252 bytes: caf\xe9, na\xefve, \x80 5, \x93quoted\x94.\r\n"));
    add("DATA\\CONFIG\\UNICODE.INI",
        utf16LeWithMark("[Language]\r\nName=Fran\xc3\xa7" "ais\r\nCurrency=\xe2\x82\xac\r\n"
                        "Greeting=Gr\xc3\xbc\xc3\x9f Gott\r\n"));
    add("DATA\\TEXT\\NOTICE.TXT", bytesOf(formattedRtf()));
    return e;
}

}  // namespace vorlr::samples
