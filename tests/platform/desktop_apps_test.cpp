// "Open with" as users have it: a private HOME and XDG folders with desktop entries and
// mimeapps.list written here; command lines split and expanded; programs started on a file;
// the choice remembered per type.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSettings>
#include <QUrl>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/desktop/DesktopApplications.h"
#include "platform/desktop/DesktopEntry.h"
#include "platform/Errors.h"
#include "support/TempDir.h"

using namespace vorlr;
using vorlr::testing::TempDir;

// Readable failures: QString is in the global namespace, so is its printer.
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

void writeText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string entry(const std::string& name, const std::string& exec, const std::string& types,
                  const std::string& extra = "") {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec +
           "\nMimeType=" + types + "\n" + extra;
}

QStringList idsOf(const std::vector<DesktopApplication>& apps) {
    QStringList ids;
    for (const auto& a : apps) ids << a.id;
    return ids;
}

// A data folder with only the system's MIME database in it, for QMimeDatabase to find: the
// system's applications stay out. One for the process, as Qt keeps the folders it found.
std::string mimeOnlyShare() {
    static TempDir share;
    static const bool linked = [] {
        std::error_code ec;
        std::filesystem::create_directory_symlink("/usr/share/mime", share.file("mime"), ec);
        return !ec;
    }();
    EXPECT_TRUE(linked);
    return share.path();
}

// The environment of a user whose HOME and XDG folders are under one test folder.
class PrivateDesktop : public ::testing::Test {
protected:
    PrivateDesktop() {
        set("HOME", root.file("home"));
        set("XDG_CONFIG_HOME", root.file("config"));
        set("XDG_CONFIG_DIRS", root.file("etc-xdg"));
        set("XDG_DATA_HOME", root.file("data"));
        set("XDG_DATA_DIRS", root.file("sys1") + ":" + root.file("sys2") + ":" + mimeOnlyShare());
        set("XDG_CURRENT_DESKTOP", std::nullopt);
    }
    ~PrivateDesktop() override {
        for (const auto& [name, value] : saved_)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
    void set(const std::string& name, std::optional<std::string> value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
    void put(const std::string& relative, const std::string& text) {
        writeText(root.file(relative), text);
    }
    // A script that writes its arguments, NUL-separated, to args-NAME beside itself.
    std::string recorder(const std::string& relative) {
        const std::string path = root.file(relative);
        writeText(path,
                  "#!/bin/sh\nout=\"$(dirname \"$0\")/args-$(basename \"$0\")\"\n"
                  "printf '%s\\0' \"$@\" > \"$out.tmp\" && mv \"$out.tmp\" \"$out\"\n");
        ::chmod(path.c_str(), 0755);
        return path;
    }
    static std::vector<std::string> recordedArguments(const std::string& script) {
        const std::filesystem::path p(script);
        const std::string out = (p.parent_path() / ("args-" + p.filename().string())).string();
        for (int i = 0; i < 1500 && !std::filesystem::exists(out); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::vector<std::string> args;
        std::string all = readText(out), one;
        std::filesystem::remove(out);
        for (char c : all) {
            if (c) {
                one += c;
            } else {
                args.push_back(one);
                one.clear();
            }
        }
        return args;
    }

    TempDir root;

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(PrivateDesktop, DefaultAddedAndRemovedAssociationsGiveTheOrderFileManagersShow) {
    put("data/applications/viewer.desktop", entry("Viewer", "true %f", "image/png;"));
    put("data/applications/vendor/editor.desktop",
        entry("Editor", "\"/bin/true\" --edit %U", "image/png;image/gif;",
              "Icon=editor-icon\nNoDisplay=true\n"));
    put("data/applications/tool.desktop", entry("Tool", "true", ""));
    put("sys1/applications/sysview.desktop", entry("System viewer", "true %u", ""));
    // The cache, not the entry's own MimeType=, says what a folder's entries declare.
    put("sys1/applications/mimeinfo.cache",
        "[MIME Cache]\nimage/png=sysview.desktop;stale.desktop;\n");
    put("config/mimeapps.list",
        "[Default Applications]\nimage/png=missing.desktop;vendor-editor.desktop;\n"
        "[Added Associations]\nimage/png=tool.desktop;\n"
        "[Removed Associations]\nimage/png=viewer.desktop;\n");

    const DesktopApplications apps;
    const auto png = apps.forMimeType("image/png");
    EXPECT_EQ(idsOf(png),
              (QStringList{"vendor-editor.desktop", "tool.desktop", "sysview.desktop"}));
    ASSERT_FALSE(png.empty());
    EXPECT_EQ(png[0].name, "Editor");
    EXPECT_EQ(png[0].icon, "editor-icon");
    EXPECT_EQ(png[0].exec, "\"/bin/true\" --edit %U");
    EXPECT_EQ(png[0].desktopFile,
              QString::fromStdString(root.file("data/applications/vendor/editor.desktop")));
    EXPECT_EQ(idsOf(apps.forFile(QString::fromStdString(root.file("no-such.png")))), idsOf(png));
    EXPECT_EQ(idsOf(apps.forMimeType("image/gif")), QStringList{"vendor-editor.desktop"});
    EXPECT_TRUE(apps.forMimeType("audio/x-wav").empty());
}

TEST_F(PrivateDesktop, FoldersParentTypesHiddenEntriesAndTheDesktopsOwnList) {
    put("data/applications/home-editor.desktop", entry("Home editor", "true", "text/plain;"));
    put("data/applications/home-plain.desktop", entry("Home plain", "true", "text/plain;"));
    put("data/applications/home-only.desktop", entry("Home only", "true", "image/png;"));
    put("data/applications/masked.desktop",
        entry("Masked", "true", "text/plain;", "Hidden=true\n"));
    put("sys1/applications/sys1-viewer.desktop", entry("Viewer", "true", "text/plain;"));
    put("sys1/applications/masked.desktop", entry("Masked", "true", "text/plain;"));
    put("sys1/applications/c-tool.desktop", entry("C tool", "true", "text/x-csrc;"));
    // A removal reaches the entries of its own folder and the folders after it, not before.
    put("sys1/applications/mimeapps.list",
        "[Removed Associations]\ntext/plain=home-plain.desktop;sys2-editor.desktop;\n");
    put("sys2/applications/sys2-editor.desktop", entry("Sys2 editor", "true", "text/plain;"));
    put("sys2/applications/mimeapps.list", "[Added Associations]\ntext/plain=home-only.desktop;\n");
    put("config/mimeapps.list", "[Default Applications]\ntext/plain=home-editor.desktop;\n");
    put("etc-xdg/mimeapps.list", "[Default Applications]\ntext/plain=sys1-viewer.desktop;\n");
    put("config/test-mimeapps.list", "[Default Applications]\ntext/plain=sys1-viewer.desktop;\n");

    {
        const DesktopApplications apps;
        EXPECT_EQ(
            idsOf(apps.forMimeType("text/plain")),
            (QStringList{"home-editor.desktop", "sys1-viewer.desktop", "home-plain.desktop"}));
        // C source is plain text: its own applications first, the default among them.
        EXPECT_EQ(idsOf(apps.forMimeType("text/x-csrc")),
                  (QStringList{"c-tool.desktop", "home-editor.desktop", "sys1-viewer.desktop",
                               "home-plain.desktop"}));
        EXPECT_EQ(idsOf(apps.forMimeType("text/x-c")), idsOf(apps.forMimeType("text/x-csrc")));
        EXPECT_EQ(idsOf(apps.forMimeType("image/png")), QStringList{"home-only.desktop"});
        EXPECT_FALSE(apps.application("masked.desktop"));
        EXPECT_TRUE(apps.application("sys2-editor.desktop"));
    }
    set("XDG_CURRENT_DESKTOP", "Other:TEST");
    const DesktopApplications apps;
    EXPECT_EQ(idsOf(apps.forMimeType("text/plain")),
              (QStringList{"sys1-viewer.desktop", "home-editor.desktop", "home-plain.desktop"}));
}

TEST_F(PrivateDesktop, BrokenEntriesAndListsAreLeftOut) {
    static const char kNul[] = "[Desktop Entry]\nType=Application\nName=N\nExec=true\x00\x01\x02\n";
    static const char kPng[] = "\x89PNG\r\n\x1a\n\0\0junk";
    const std::string nul(kNul, sizeof kNul - 1);
    const std::vector<std::pair<std::string, std::string>> broken = {
        {"no-exec", "[Desktop Entry]\nType=Application\nName=X\nMimeType=image/png;\n"},
        {"open-quote", entry("X", "\"/bin/true %f", "image/png;")},
        {"nul-bytes", nul + "MimeType=image/png;\n"},
        {"not-utf8", entry("X\xff\xfe", "true", "image/png;")},
        {"junk-line", entry("X", "true", "image/png;", "this line is no entry\n")},
        {"link", "[Desktop Entry]\nType=Link\nName=X\nExec=true\nMimeType=image/png;\n"},
        {"no-name", "[Desktop Entry]\nType=Application\nExec=true\nMimeType=image/png;\n"},
        {"other-group", "[Something]\nType=Application\nName=X\nExec=true\nMimeType=image/png;\n"},
        {"shell", entry("X", "true %f | rm -rf ~", "image/png;")},
        {"code-as-program", entry("X", "%f", "image/png;")},
        {"unknown-code", entry("X", "true %x", "image/png;")},
        {"try-exec", entry("X", "true", "image/png;", "TryExec=/no/such/program\n")},
        {"program", entry("X", "/no/such/program %f", "image/png;")},
        {"huge", entry("X", "true", "image/png;", std::string(1 << 20, '#'))},
    };
    std::string defaults;
    for (const auto& [name, text] : broken) {
        put("data/applications/bad-" + name + ".desktop", text);
        defaults += "bad-" + name + ".desktop;";
    }
    put("data/applications/good.desktop", entry("Good", "true", "image/png;"));
    put("config/mimeapps.list", "[Default Applications]\nimage/png=" + defaults + "\n");
    put("etc-xdg/mimeapps.list", std::string(kPng, sizeof kPng - 1));
    const DesktopApplications apps;
    EXPECT_EQ(idsOf(apps.forMimeType("image/png")), QStringList{"good.desktop"});
}

struct ExecCase {
    const char* exec;
    std::vector<QString> args;  // program first; empty: refused
};

TEST(ExecLine, SplitAndFieldCodes) {
    const QString file = "/tmp/it's \"a\" $y #1%.png";
    const QString url = "file:///tmp/it's%20%22a%22%20$y%20%231%25.png";
    const std::vector<ExecCase> cases = {
        {"prog %f", {"prog", file}},
        {"prog %F", {"prog", file}},
        {"prog %u", {"prog", url}},
        {"prog %U", {"prog", url}},
        {"prog", {"prog", file}},
        {"prog --open=%f -x", {"prog", "--open=" + file, "-x"}},
        {"prog  --name=%c\t%k", {"prog", "--name=Viewer", "/apps/v.desktop", file}},
        {"prog %i %f", {"prog", "--icon", "view", file}},
        {"prog 100%% %%f %f", {"prog", "100%", "%f", file}},
        {"prog %d %D %n %N %v %m %f", {"prog", file}},
        {"\"/opt/my app/x\" \"a \\\"b\\\" \\$c \\` \\\\ d\" \"\" %f",
         {"/opt/my app/x", "a \"b\" $c ` \\ d", "", file}},
        {"\"prog\" \"x'y|z;~\" %U", {"prog", "x'y|z;~", url}},
        {"prog \"unclosed %f", {}},
        {"prog a\"b\" %f", {}},
        {"prog \"a\"b %f", {}},
        {"prog 'single' %f", {}},
        {"prog %f | other", {}},
        {"prog $HOME", {}},
        {"prog a\\ b", {}},
        {"prog > out", {}},
        {"%f", {}},
        {"pr%%og%f", {}},
        {"prog %x", {}},
        {"prog 50%", {}},
        {"prog --all=%F", {}},
        {"prog x%i", {}},
        {"\"\" %f", {}},
        {"   ", {}},
    };
    for (const ExecCase& c : cases) {
        SCOPED_TRACE(c.exec);
        std::optional<QStringList> got;
        try {
            got = expandFieldCodes(splitCommandLine(QString::fromUtf8(c.exec)),
                                   {file, "Viewer", "view", "/apps/v.desktop"});
        } catch (const Error&) {
        }
        if (c.args.empty()) {
            EXPECT_FALSE(got) << got->join(" | ").toStdString();
        } else {
            ASSERT_TRUE(got);
            EXPECT_EQ(*got, QStringList(c.args.begin(), c.args.end()));
        }
    }
    // Without an icon %i stands for nothing.
    EXPECT_EQ(expandFieldCodes({"prog", "%i", "%c"}, {file, {}, {}, {}}),
              (QStringList{"prog", file}));
}

// A file's string escapes are undone before the quoting: four backslashes are one.
TEST(ExecLine, StringEscapesComeBeforeTheQuoting) {
    const auto e = parseDesktopEntry(
        "[Desktop Entry]\nExec=prog \"a\\\\\\\\b\" \"c\\\\$d\" "
        "x\\sy\nName=N\nMimeType=a/b;c\\;d;;\n");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->exec, "prog \"a\\\\b\" \"c\\$d\" x y");
    EXPECT_EQ(splitCommandLine(e->exec), (QStringList{"prog", "a\\b", "c$d", "x", "y"}));
    EXPECT_EQ(e->mimeTypes, (QStringList{"a/b", "c;d"}));
}

TEST_F(PrivateDesktop, ProgramsStartOnTheFileWithTheirArguments) {
    const std::string script = recorder("bin/rec");
    put("data/applications/rec.desktop",
        entry("Recorder", script + " --from-entry %U", "image/png;", "Path=/\n"));
    const QString file = QString::fromStdString(root.file("work/it's a \"copy\" $1.png"));
    const std::string url = QUrl::fromLocalFile(file).toEncoded().toStdString();
    const DesktopApplications apps;
    const auto rec = apps.application("rec.desktop");
    ASSERT_TRUE(rec);
    EXPECT_GT(startDetached(commandFor(*rec, file)), 0);
    EXPECT_EQ(recordedArguments(script), (std::vector<std::string>{"--from-entry", url}));

    // A typed command: quoted like an Exec line, the file appended unless it is named.
    startDetached(customCommand(QString::fromStdString("\"" + script + "\" --custom"), file));
    EXPECT_EQ(recordedArguments(script),
              (std::vector<std::string>{"--custom", file.toStdString()}));
    startDetached(customCommand(QString::fromStdString(script + " %f --after"), file));
    EXPECT_EQ(recordedArguments(script), (std::vector<std::string>{file.toStdString(), "--after"}));

    // A terminal application runs in the terminal program, the command after its -e.
    const std::string terminal = recorder("terms/x-terminal-emulator");
    set("PATH", root.file("terms") + ":" + std::getenv("PATH"));
    DesktopApplication inTerminal = *rec;
    inTerminal.terminal = true;
    startDetached(commandFor(inTerminal, file));
    EXPECT_EQ(recordedArguments(terminal),
              (std::vector<std::string>{"-e", script, "--from-entry", url}));

    EXPECT_THROW(customCommand("no-such-program-of-vorlr %f", file), Error);
    EXPECT_THROW(customCommand("\"unclosed", file), Error);
    EXPECT_THROW(startDetached({root.file("work").c_str(), {}, {}}), Error);
}

TEST(OpenWithChoice, RememberedPerTypeInTheSettings) {
    TempDir dir;
    const QString file = QString::fromStdString(dir.file("vorlr.conf"));
    const OpenWithChoices::Choice app{OpenWithChoices::Choice::Kind::Application, "gimp.desktop"};
    const OpenWithChoices::Choice command{OpenWithChoices::Choice::Kind::Command,
                                          "\"/opt/my editor\" -a=1,b;c %f"};
    {
        QSettings store(file, QSettings::IniFormat);
        OpenWithChoices choices(store);
        choices.remember("image/png", app);
        choices.remember("text/plain", command);
        choices.remember("text/x-csrc", command);
        choices.forget("text/x-csrc");
    }
    QSettings store(file, QSettings::IniFormat);
    OpenWithChoices choices(store);
    EXPECT_EQ(choices.remembered("image/png"), app);
    EXPECT_EQ(choices.remembered("text/plain"), command);
    EXPECT_FALSE(choices.remembered("text/x-csrc"));
    EXPECT_FALSE(choices.remembered("image"));
}

}  // namespace
