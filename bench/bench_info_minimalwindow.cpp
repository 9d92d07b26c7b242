// The baseline for start -> window shown: the smallest Qt Widgets program
// that shows a titled window, started the same way as the real program.

#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal window"));
    window.resize(537, 620);
    window.show();
    return app.exec();
}
