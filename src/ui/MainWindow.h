#pragma once

#include <QMainWindow>

// The main window. Its views arrive with the application-shell work; for now it is the
// empty frame the application opens with.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(QWidget* parent = nullptr);
};
