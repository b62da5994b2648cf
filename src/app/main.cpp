// Program entry. Batch switches are handled before any Qt object exists, so a
// conversion needs no display; otherwise the editor window opens.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QSettings>

#include "app/settings.h"
#include "io/batch.h"

int main(int argc, char** argv) {
    bool handled = false;
    const int batchResult = qv::runBatch(argc, argv, handled, [] {
        return qv::Settings::readWaveOutputVolume(*qv::Settings::openUserStore());
    });
    if (handled) return batchResult;

    QApplication app(argc, argv);
    QApplication::setOrganizationName("Nostrel");
    QApplication::setApplicationName("Qorvette");
    QMainWindow window;
    window.setWindowTitle("Qorvette");
    window.setCentralWidget(new QLabel("Qorvette"));
    window.resize(800, 600);
    window.show();
    return QApplication::exec();
}
