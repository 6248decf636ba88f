#include "X11Probe.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace ow::test {

X11Probe::X11Probe(QString program)
    : m_program(std::move(program))
{
}

X11Probe::~X11Probe()
{
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(2000))
        m_process.kill();
    m_process.waitForFinished(2000);
}

bool X11Probe::start()
{
    m_process.start(m_program, {});
    return m_process.waitForStarted(5000) && nextLine().startsWith(QLatin1String("ready"));
}

QString X11Probe::nextLine(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!m_process.canReadLine()) {
        if (timer.elapsed() > timeoutMs)
            return {};
        // Keep our own event loop turning: the code under test runs in this process.
        if (!m_process.waitForReadyRead(50))
            QCoreApplication::processEvents();
    }
    return QString::fromLocal8Bit(m_process.readLine()).trimmed();
}

QStringList X11Probe::readUntil(const QString& line, int timeoutMs)
{
    QStringList before;
    for (;;) {
        const QString next = nextLine(timeoutMs);
        if (next.isEmpty())
            return before << QStringLiteral("<timeout>");
        if (next == line)
            return before;
        before << next;
    }
}

void X11Probe::command(const char* text)
{
    m_process.write(QByteArray(text) + '\n');
}

QStringList X11Probe::received()
{
    command("ping");
    return readUntil(QStringLiteral("pong"));
}

void X11Probe::refocus()
{
    command("focus");
    readUntil(QStringLiteral("focused"));
}

} // namespace ow::test
