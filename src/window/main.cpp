#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget w;
    w.setWindowTitle(QStringLiteral("DORQ PLC Pulse test programma Berlio 2004"));
    w.show();
    return app.exec();
}
