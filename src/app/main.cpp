#include <QApplication>
#include <QDialog>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog sheet;
    sheet.setWindowTitle("Tarnwick");
    sheet.show();
    return app.exec();
}
