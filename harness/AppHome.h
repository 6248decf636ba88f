#pragma once

#include <QJsonObject>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace ow::test {

// A fresh home for one launched OrbinWash: config, data, cache and runtime folders of its
// own, English texts, and the defaults file it starts from.
class AppHome {
public:
    explicit AppHome(const QJsonObject& defaults);

    // False when the folders or the defaults file could not be made.
    bool isValid() const { return m_valid; }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    // The environment of this process with the home's folders in place of the user's.
    QProcessEnvironment environment() const;

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};

} // namespace ow::test
