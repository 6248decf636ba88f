#include "XdgAutostartLoginItem.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <string>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace ow;

namespace {

bool writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

class LoginItemTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const char* relative) const { return m_dir.filePath(QString::fromLatin1(relative)); }

    QTemporaryDir m_dir;
};

struct ExecCase {
    const char* name;
    const char* program;
    const char* exec; // what a launcher undoes: string escapes, then quoting, then "%%"
};

class ExecLineTest : public LoginItemTest, public ::testing::WithParamInterface<ExecCase> {};

TEST_P(ExecLineTest, RegisterWritesAnEntryThatStartsTheProgram)
{
    // The folder does not exist yet, nor does its parent.
    XdgAutostartLoginItem item(path("config/autostart"), QString::fromUtf8(GetParam().program));
    EXPECT_FALSE(item.isEnabled());
    QString error;
    ASSERT_TRUE(item.registerItem(&error)) << error.toStdString();
    EXPECT_TRUE(item.isEnabled());
    QFile file(path("config/autostart/orbinwash.desktop"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string text = file.readAll().toStdString();
    EXPECT_EQ(text.rfind("[Desktop Entry]\nType=Application\n", 0), 0u) << text;
    EXPECT_NE(text.find(std::string("\nExec=") + GetParam().exec + "\n"), std::string::npos) << text;

    struct stat info {};
    ASSERT_EQ(stat(QFile::encodeName(item.filePath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(QDir(path("config/autostart")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{u"orbinwash.desktop"_s})
        << "nothing left beside it from the atomic write";
}

INSTANTIATE_TEST_SUITE_P(
    LoginItemTest, ExecLineTest,
    ::testing::Values(ExecCase{"Plain", "/usr/bin/orbinwash", R"("/usr/bin/orbinwash")"},
                      // A quote takes a backslash for the quoting, which the string escapes double.
                      ExecCase{"SpacesAndQuotes", "/opt/my apps/Orbin \"Wash\"/orbinwash",
                               R"("/opt/my apps/Orbin \\"Wash\\"/orbinwash")"},
                      ExecCase{"Dollar", "/tmp/$HOME/orbinwash", R"("/tmp/\\$HOME/orbinwash")"},
                      ExecCase{"Backslash", "/tmp/a\\b/orbinwash", R"("/tmp/a\\\\b/orbinwash")"},
                      ExecCase{"ShellAndFieldCode", "/tmp/a`d%e f'g;h&i\tj\nk/orbinwash",
                               R"("/tmp/a\\`d%%e f'g;h&i\tj\nk/orbinwash")"}),
    [](const ::testing::TestParamInfo<ExecCase>& param) { return std::string(param.param.name); });

struct SkipCase {
    const char* name;
    const char* entry;
    bool enabled;
};

class SkippedEntryTest : public LoginItemTest, public ::testing::WithParamInterface<SkipCase> {};

// Unregistering twice is no failure; a folder in place of the entry starts nothing.
TEST_P(SkippedEntryTest, CountsAsOffAndRegisteringAndUnregisteringTurnItOnAndOff)
{
    XdgAutostartLoginItem item(path("autostart"), u"/usr/bin/orbinwash"_s);
    ASSERT_TRUE(QDir().mkpath(path("autostart")));
    ASSERT_TRUE(writeFile(item.filePath(), "[Desktop Entry]\nType=Application\nExec=x\n"_ba + GetParam().entry));
    EXPECT_EQ(item.isEnabled(), GetParam().enabled);
    ASSERT_TRUE(item.registerItem(nullptr));
    EXPECT_TRUE(item.isEnabled());
    QString error;
    for (int run = 0; run < 2; ++run) {
        EXPECT_TRUE(item.unregisterItem(&error)) << error.toStdString();
        EXPECT_FALSE(QFile::exists(item.filePath()));
        EXPECT_FALSE(item.isEnabled());
    }
    EXPECT_TRUE(error.isEmpty());
    ASSERT_TRUE(QDir().mkpath(item.filePath()));
    EXPECT_FALSE(item.isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    LoginItemTest, SkippedEntryTest,
    ::testing::Values(SkipCase{"Hidden", "Hidden=true\n", false},
                      SkipCase{"GnomeDisabled", "X-GNOME-Autostart-enabled=false\n", false},
                      SkipCase{"CommentedOut", "#Hidden=true\n", true},
                      SkipCase{"OtherGroup", "[Desktop Action quit]\nHidden=true\n", true}),
    [](const ::testing::TestParamInfo<SkipCase>& param) { return std::string(param.param.name); });

TEST_F(LoginItemTest, UnwritableFolderFailsWithAReason)
{
    // A regular file where the folder should be: no one, not even root, can write there.
    ASSERT_TRUE(writeFile(path("autostart"), "not a folder"));
    for (const char* folder : {"autostart", "autostart/deeper"}) {
        XdgAutostartLoginItem item(path(folder), u"/usr/bin/orbinwash"_s);
        QString error;
        EXPECT_FALSE(item.registerItem(&error)) << folder;
        EXPECT_FALSE(error.isEmpty()) << folder;
        EXPECT_FALSE(item.isEnabled()) << folder;
        EXPECT_FALSE(item.registerItem(nullptr)) << folder;
    }
}

} // namespace
