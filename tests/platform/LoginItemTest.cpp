#include "XdgAutostartLoginItem.h"

#include <gtest/gtest.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>
#include <ostream>
#include <string>

#include <sys/stat.h>

static void PrintTo(const QString& value, std::ostream* out)
{
    QString text;
    QDebug(&text) << value;
    *out << text.toStdString();
}

using namespace ow;

namespace {

const QString kProgram = QStringLiteral("/usr/bin/orbinwash");

QString readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

bool writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// The keys of a file that holds the [Desktop Entry] group and nothing else.
std::optional<QMap<QString, QString>> entryKeys(const QString& text)
{
    QStringList lines = text.split(u'\n');
    if (lines.isEmpty() || lines.takeFirst() != QStringLiteral("[Desktop Entry]") || !text.endsWith(u'\n'))
        return std::nullopt;
    lines.removeLast(); // after the final newline
    QMap<QString, QString> keys;
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0 || keys.contains(line.left(equals)))
            return std::nullopt;
        keys.insert(line.left(equals), line.mid(equals + 1));
    }
    return keys;
}

// What a launcher makes of an Exec value holding one quoted argument: first the string
// escapes, then the quoting, then the "%%" field code.
std::optional<QString> execProgram(const QString& value)
{
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\') {
            unescaped += value[i];
            continue;
        }
        if (++i == value.size())
            return std::nullopt;
        switch (value[i].unicode()) {
        case u's': unescaped += u' '; break;
        case u'n': unescaped += u'\n'; break;
        case u't': unescaped += u'\t'; break;
        case u'r': unescaped += u'\r'; break;
        case u'\\': unescaped += u'\\'; break;
        default: return std::nullopt;
        }
    }
    if (unescaped.size() < 2 || !unescaped.startsWith(u'"') || !unescaped.endsWith(u'"'))
        return std::nullopt;
    const QString quoted = unescaped.mid(1, unescaped.size() - 2);
    QString argument;
    for (qsizetype i = 0; i < quoted.size(); ++i) {
        const QChar c = quoted[i];
        if (c == u'\\') {
            if (++i == quoted.size() || !QStringLiteral("\"`$\\").contains(quoted[i]))
                return std::nullopt;
            argument += quoted[i];
        } else if (c == u'"' || c == u'`' || c == u'$') {
            return std::nullopt; // must have been escaped
        } else if (c == u'%') {
            if (++i == quoted.size() || quoted[i] != u'%')
                return std::nullopt;
            argument += u'%';
        } else {
            argument += c;
        }
    }
    return argument;
}

class LoginItemTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path(const QString& relative) const { return m_dir.filePath(relative); }

private:
    QTemporaryDir m_dir;
};

TEST_F(LoginItemTest, RegisterWritesAnAutostartEntry)
{
    // The folder does not exist yet, nor does its parent.
    XdgAutostartLoginItem item(path(QStringLiteral("config/autostart")), kProgram);
    EXPECT_EQ(item.filePath(), path(QStringLiteral("config/autostart/orbinwash.desktop")));
    EXPECT_FALSE(item.isEnabled());

    QString error;
    ASSERT_TRUE(item.registerItem(&error)) << error.toStdString();
    EXPECT_TRUE(error.isEmpty());
    EXPECT_TRUE(item.isEnabled());

    const auto keys = entryKeys(readAll(item.filePath()));
    ASSERT_TRUE(keys.has_value()) << readAll(item.filePath()).toStdString();
    const QMap<QString, QString> expected{
        {QStringLiteral("Type"), QStringLiteral("Application")},
        {QStringLiteral("Name"), QStringLiteral("OrbinWash")},
        {QStringLiteral("Exec"), QStringLiteral("\"/usr/bin/orbinwash\"")},
        {QStringLiteral("Icon"), QStringLiteral("orbinwash")},
        {QStringLiteral("Terminal"), QStringLiteral("false")},
        {QStringLiteral("X-GNOME-Autostart-enabled"), QStringLiteral("true")},
        {QStringLiteral("NoDisplay"), QStringLiteral("false")},
    };
    EXPECT_EQ(*keys, expected);

    struct stat info {};
    ASSERT_EQ(stat(QFile::encodeName(item.filePath()).constData(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    // Nothing left beside it from the atomic write.
    EXPECT_EQ(QDir(path(QStringLiteral("config/autostart"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("orbinwash.desktop")});
}

TEST_F(LoginItemTest, ExecQuotesAPathWithSpacesAndQuotes)
{
    const QString program = QStringLiteral("/opt/my apps/Orbin \"Wash\"/orbinwash");
    XdgAutostartLoginItem item(path(QStringLiteral("autostart")), program);
    ASSERT_TRUE(item.registerItem(nullptr));
    const auto keys = entryKeys(readAll(item.filePath()));
    ASSERT_TRUE(keys.has_value());
    // The quote takes a backslash for the quoting, which the string escapes double.
    EXPECT_EQ(keys->value(QStringLiteral("Exec")),
              QStringLiteral(R"("/opt/my apps/Orbin \\"Wash\\"/orbinwash")"));
    EXPECT_EQ(execProgram(keys->value(QStringLiteral("Exec"))), program);
}

TEST_F(LoginItemTest, ExecEscapesShellAndFieldCodeCharacters)
{
    const QString program = QStringLiteral("/tmp/a$b\\c`d%e f'g;h&i\tj/orbinwash");
    XdgAutostartLoginItem item(path(QStringLiteral("autostart")), program);
    ASSERT_TRUE(item.registerItem(nullptr));
    const auto keys = entryKeys(readAll(item.filePath()));
    ASSERT_TRUE(keys.has_value());
    EXPECT_EQ(keys->value(QStringLiteral("Exec")),
              QStringLiteral(R"("/tmp/a\\$b\\\\c\\`d%%e f'g;h&i\tj/orbinwash")"));
    EXPECT_EQ(execProgram(keys->value(QStringLiteral("Exec"))), program);
}

TEST_F(LoginItemTest, UnregisterRemovesTheEntry)
{
    XdgAutostartLoginItem item(path(QStringLiteral("autostart")), kProgram);
    ASSERT_TRUE(item.registerItem(nullptr));
    ASSERT_TRUE(item.isEnabled());

    QString error;
    EXPECT_TRUE(item.unregisterItem(&error)) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(item.filePath()));
    EXPECT_FALSE(item.isEnabled());
    // Already gone is no failure.
    EXPECT_TRUE(item.unregisterItem(&error));
    EXPECT_TRUE(error.isEmpty());

    ASSERT_TRUE(item.registerItem(nullptr));
    EXPECT_TRUE(item.isEnabled());
}

TEST_F(LoginItemTest, EntryTheSessionSkipsIsNotEnabled)
{
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("autostart"))));
    XdgAutostartLoginItem item(path(QStringLiteral("autostart")), kProgram);

    ASSERT_TRUE(writeFile(item.filePath(), "[Desktop Entry]\nType=Application\nExec=x\nHidden=true\n"));
    EXPECT_FALSE(item.isEnabled());
    ASSERT_TRUE(writeFile(item.filePath(),
                          "[Desktop Entry]\nType=Application\nExec=x\nX-GNOME-Autostart-enabled=false\n"));
    EXPECT_FALSE(item.isEnabled());
    // Keys of another group, or commented out, do not count.
    ASSERT_TRUE(writeFile(item.filePath(), "[Desktop Entry]\nType=Application\nExec=x\n#Hidden=true\n"
                                           "[Desktop Action quit]\nHidden=true\n"));
    EXPECT_TRUE(item.isEnabled());

    // Registering again makes a skipped entry start again.
    ASSERT_TRUE(writeFile(item.filePath(), "[Desktop Entry]\nType=Application\nExec=x\nHidden=true\n"));
    ASSERT_TRUE(item.registerItem(nullptr));
    EXPECT_TRUE(item.isEnabled());
    EXPECT_FALSE(readAll(item.filePath()).contains(QStringLiteral("Hidden")));
}

TEST_F(LoginItemTest, FolderInPlaceOfTheEntryIsNotEnabled)
{
    XdgAutostartLoginItem item(path(QStringLiteral("autostart")), kProgram);
    ASSERT_TRUE(QDir().mkpath(item.filePath()));
    EXPECT_FALSE(item.isEnabled());
}

TEST_F(LoginItemTest, UnwritableFolderFailsWithAReason)
{
    // A regular file where the folder should be: no one, not even root, can write there.
    ASSERT_TRUE(writeFile(path(QStringLiteral("autostart")), "not a folder"));
    XdgAutostartLoginItem item(path(QStringLiteral("autostart")), kProgram);

    QString error;
    EXPECT_FALSE(item.registerItem(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(item.isEnabled());
    EXPECT_FALSE(item.registerItem(nullptr));

    // Beneath it, the same.
    XdgAutostartLoginItem nested(path(QStringLiteral("autostart/deeper")), kProgram);
    error.clear();
    EXPECT_FALSE(nested.registerItem(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(nested.isEnabled());
}

TEST_F(LoginItemTest, DefaultFolderIsTheUsersAutostartFolder)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path(QStringLiteral("home-config"))));
    EXPECT_EQ(XdgAutostartLoginItem::defaultFolder(), path(QStringLiteral("home-config/autostart")));
    if (saved.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", saved);
}

} // namespace
