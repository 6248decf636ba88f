#pragma once

#include "UserDefaults.h"

#include <QJsonObject>
#include <QMutex>
#include <QString>

namespace ow {

// The user-defaults store kept in a JSON file, rewritten whole and atomically (mode 0600)
// on every change. An unreadable file is moved aside rather than overwritten; if that
// fails the store keeps changes in memory only for this run.
// Setting an invalid QVariant removes the key; a value of any other unsupported type is
// refused with a warning.
class FileUserDefaults final : public UserDefaults {
public:
    explicit FileUserDefaults(QString filePath);

    // $XDG_CONFIG_HOME/OrbinWash/defaults.json
    static QString defaultPath();

    QVariant value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;

private:
    void load();
    bool moveAside() const;
    void save();

    const QString m_path;
    mutable QMutex m_mutex;
    // The file's contents as last written or read; values of shapes this build does
    // not know stay here, so saving never drops what a newer build wrote.
    QJsonObject m_document;
    bool m_readOnly = false;
    bool m_saveFailing = false;
};

} // namespace ow
