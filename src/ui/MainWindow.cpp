#include "ui/MainWindow.h"

MainWindow::MainWindow(AppServices& services, QWidget* parent)
    : QMainWindow(parent)
    , m_services(services)
{
    setWindowTitle(QStringLiteral("Quillet"));
    resize(1120, 740);
}
