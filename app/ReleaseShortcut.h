#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace ow {

// Return (or Enter) that fires when the key goes up, not when it goes down, and never
// from auto-repeat. The lock command must not start while the key that gave it is still
// down: the key's release would then belong to the lock, and the session would be left
// believing the key is held.
class ReleaseShortcut : public QObject {
    Q_OBJECT
public:
    // Listens to the keys typed into scope and its children while scope is visible.
    explicit ReleaseShortcut(QWidget* scope);

    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

signals:
    void activated();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool inScope(QObject* watched) const;

    QPointer<QWidget> m_scope;
    bool m_enabled = true;
    int m_armedKey = 0; // the key whose press was seen, 0 when none
};

} // namespace ow
