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

// Into a folder that does not exist yet, nor does its parent; the Exec line is what a
// launcher undoes (string escapes, then quoting, then "%%") to get the program back.
TEST_F(LoginItemTest, RegisterWritesAnEntryThatStartsTheProgram)
{
    const struct { const char* program; const char* exec; } rows[] = {
        {"/usr/bin/orbinwash", R"("/usr/bin/orbinwash")"},
        // A quote takes a backslash for the quoting, which the string escapes double.
        {"/opt/my apps/Orbin \"Wash\"/orbinwash", R"("/opt/my apps/Orbin \\"Wash\\"/orbinwash")"},
        {"/tmp/$HOME/orbinwash", R"("/tmp/\\$HOME/orbinwash")"},
        {"/tmp/a\\b/orbinwash", R"("/tmp/a\\\\b/orbinwash")"},
        {"/tmp/a`d%e f'g;h&i\tj\nk/orbinwash", R"("/tmp/a\\`d%%e f'g;h&i\tj\nk/orbinwash")"},
    };
    for (int i = 0; const auto& row : rows) {
        SCOPED_TRACE(row.program);
        const QString folder = m_dir.filePath(u"config%1/autostart"_s.arg(i++));
        XdgAutostartLoginItem item(folder, QString::fromUtf8(row.program));
        EXPECT_FALSE(item.isEnabled());
        QString error;
        ASSERT_TRUE(item.registerItem(&error)) << error.toStdString();
        EXPECT_TRUE(item.isEnabled());
        QFile file(item.filePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const std::string text = file.readAll().toStdString();
        EXPECT_EQ(text.rfind("[Desktop Entry]\nType=Application\n", 0), 0u) << text;
        EXPECT_NE(text.find(std::string("\nExec=") + row.exec + "\n"), std::string::npos) << text;
        struct stat info {};
        ASSERT_EQ(stat(QFile::encodeName(item.filePath()).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0644u);
        // Nothing left beside it from the atomic write.
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{u"orbinwash.desktop"_s});
    }
}

// An entry a session manager skips counts as off, and registering and unregistering turn
// it on and off; unregistering twice is no failure; a folder in place of the entry starts nothing.
TEST_F(LoginItemTest, ASkippedEntryCountsAsOffUntilRegistered)
{
    const struct { const char* entry; bool enabled; } rows[] = {
        {"Hidden=true\n", false}, {"X-GNOME-Autostart-enabled=false\n", false},
        {"#Hidden=true\n", true}, {"[Desktop Action quit]\nHidden=true\n", true},
    };
    XdgAutostartLoginItem item(path("autostart"), u"/usr/bin/orbinwash"_s);
    ASSERT_TRUE(QDir().mkpath(path("autostart")));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.entry);
        ASSERT_TRUE(writeFile(item.filePath(), "[Desktop Entry]\nType=Application\nExec=x\n"_ba + row.entry));
        EXPECT_EQ(item.isEnabled(), row.enabled);
        ASSERT_TRUE(item.registerItem(nullptr));
        EXPECT_TRUE(item.isEnabled());
        QString error;
        for (int run = 0; run < 2; ++run) {
            EXPECT_TRUE(item.unregisterItem(&error)) << error.toStdString();
            EXPECT_FALSE(QFile::exists(item.filePath()) || item.isEnabled());
        }
        EXPECT_TRUE(error.isEmpty());
    }
    ASSERT_TRUE(QDir().mkpath(item.filePath()));
    EXPECT_FALSE(item.isEnabled());
}

TEST_F(LoginItemTest, UnwritableFolderFailsWithAReason)
{
    // A regular file where the folder should be: no one, not even root, can write there.
    ASSERT_TRUE(writeFile(path("autostart"), "not a folder"));
    for (const char* folder : {"autostart", "autostart/deeper"}) {
        SCOPED_TRACE(folder);
        XdgAutostartLoginItem item(path(folder), u"/usr/bin/orbinwash"_s);
        QString error;
        EXPECT_FALSE(item.registerItem(&error));
        EXPECT_FALSE(error.isEmpty() || item.isEnabled() || item.registerItem(nullptr));
    }
}

} // namespace
