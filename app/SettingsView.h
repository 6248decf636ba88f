#pragma once

#include <QWidget>

namespace ow {

// The settings page of the main window. For now it only leads back to the home view.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    explicit SettingsView(QWidget* parent = nullptr);

signals:
    void backRequested();
};

} // namespace ow
