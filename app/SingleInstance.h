#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>

#include <memory>

namespace ow {

// One OrbinWash per user. The first launch holds a lock file and listens on a local
// socket only the user can reach; a later launch tells it that the application was
// opened again, and exits. A lock file left by a crashed instance is taken over.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // name: unique per user and application; folder: where the lock file lives.
    SingleInstance(const QString& name, const QString& folder);
    ~SingleInstance() override;

    // True when this is the first instance; it then listens for later launches.
    bool claim();
    // Tells the running instance to come forward. True if it got the message.
    bool notifyRunning() const;

    static QString defaultName();
    static QString defaultFolder();

signals:
    void reopenRequested();

private:
    QString m_name; // the socket's path
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace ow
