#pragma once

#include <QMainWindow>

class AppServices;

// The main window. Its views arrive with the application-shell work; for now it is the
// empty frame the application opens with, given the services its views will be built from.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(AppServices& services, QWidget* parent = nullptr);

    AppServices& services() const { return m_services; }

private:
    AppServices& m_services;
};
